# The installation script reader, placeholders and word lists, built from their sources so
# that they are instrumented.
ombrix_add_fuzzer(fuzz_setupinf
                  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SetupScriptFuzz.cpp
                          ${PROJECT_SOURCE_DIR}/setup/Script.cpp)
