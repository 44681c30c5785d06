add_executable(bench_kernelevents KernelEventsBench.cpp)
target_link_libraries(bench_kernelevents PRIVATE ombrix_platform_kernelevents
                      benchmark::benchmark_main)
