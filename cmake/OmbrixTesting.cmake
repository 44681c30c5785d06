# ombrix_add_test(NAME <target> SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest program per subsystem; every test case becomes a CTest test.
find_package(GTest REQUIRED)
include(GoogleTest)

function(ombrix_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ombrix_test_support GTest::gmock
                        GTest::gtest_main)
  set(_labels ${T_LABELS})
  if(NOT _labels)
    set(_labels core)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST
                       PROPERTIES LABELS "${_labels}" TIMEOUT 120)
endfunction()
