add_executable(bench_eventhandlers EventHandlersBench.cpp)
target_link_libraries(bench_eventhandlers PRIVATE ombrix_eventhandlers ombrix_test_support
                      benchmark::benchmark_main)
