# A view refresh: sorted rows by binary insertion, and one screen of formatted cells.
if(TARGET ombrix_viewformat)
  add_executable(bench_views ${CMAKE_CURRENT_LIST_DIR}/ViewsBench.cpp)
  target_link_libraries(bench_views PRIVATE ombrix_viewformat benchmark::benchmark_main)
endif()
