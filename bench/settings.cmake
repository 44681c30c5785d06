# Settings file: erasing a section with tens of thousands of duplicate headers, and a whole
# save of such a file.
add_executable(bench_settings ${CMAKE_CURRENT_LIST_DIR}/SettingsBench.cpp)
target_link_libraries(bench_settings PRIVATE ombrix_settings benchmark::benchmark_main)
