# Performance data blocks from outside: the walk with every counter value, and the dump.
ombrix_add_fuzzer(fuzz_perfdata SOURCES PerfDataFuzz.cpp LIBS ombrix_perfdata)
# nl80211 station messages, for the bit rate of wireless links; the reader is built into the
# harness so that it is instrumented.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBNL_GENL REQUIRED IMPORTED_TARGET libnl-genl-3.0)
ombrix_add_fuzzer(fuzz_wirelessrate
                  SOURCES WirelessRateFuzz.cpp ${PROJECT_SOURCE_DIR}/platform/perfdata/WirelessBitrate.cpp
                  LIBS PkgConfig::LIBNL_GENL)
