# Cost of one performance data sample: the provider's block, the walk, and top for scale.
add_executable(bench_perfdata PerfDataBench.cpp)
target_link_libraries(bench_perfdata PRIVATE ombrix_perfdata benchmark::benchmark_main)
