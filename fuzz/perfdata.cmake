# Performance data blocks from outside: the walk with every counter value, and the dump.
ombrix_add_fuzzer(fuzz_perfdata SOURCES PerfDataFuzz.cpp LIBS ombrix_perfdata)
