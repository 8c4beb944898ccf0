include(GoogleTest)

# kp_test(name SOURCES a.cpp b.cpp LIBS x y): a GoogleTest executable whose
# cases are registered with CTest one by one when the tests run.
function(kp_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  kp_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "KP_SOURCE_DIR=${CMAKE_SOURCE_DIR};KP_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()
