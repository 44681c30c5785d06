# Entity tables: find-or-create at 10 000 entries and a full interval close.
add_executable(bench_tables ${CMAKE_CURRENT_LIST_DIR}/TablesBench.cpp)
target_link_libraries(bench_tables PRIVATE ombrix_model benchmark::benchmark_main)
