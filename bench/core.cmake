# One full tick of the monitor's core on live data and on synthetic blocks.
add_executable(bench_core ${CMAKE_CURRENT_LIST_DIR}/CoreBench.cpp)
target_link_libraries(bench_core PRIVATE ombrix_core ombrix_test_support benchmark::benchmark_main)
