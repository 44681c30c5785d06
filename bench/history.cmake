# The history: a tick's copy out of the model, the writer's cost per tick, a simulated week.
add_executable(bench_history ${CMAKE_CURRENT_LIST_DIR}/HistoryBench.cpp)
target_link_libraries(bench_history PRIVATE ombrix_history ombrix_test_support
                      benchmark::benchmark_main)
