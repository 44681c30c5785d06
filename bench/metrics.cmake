# A metrics scrape at 2 000 processes: the tick's copy of the sample, its series as text, and
# the whole HTTP round trip on loopback.
if(TARGET ombrix_metrics)
  find_package(CURL REQUIRED)
  add_executable(bench_metrics ${CMAKE_CURRENT_LIST_DIR}/MetricsBench.cpp)
  target_link_libraries(bench_metrics PRIVATE ombrix_metrics CURL::libcurl
                        benchmark::benchmark_main)
endif()
