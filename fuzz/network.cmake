# The ports.txt line parser, built from its source so that it is instrumented.
ombrix_add_fuzzer(fuzz_portnames
                  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PortNamesFuzz.cpp
                          ${PROJECT_SOURCE_DIR}/monitor/network/PortNames.cpp)
