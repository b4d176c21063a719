# vg_add_test(NAME name SOURCES ... LIBS ... [QT]) registers one test executable with CTest.
# GoogleTest executables get gtest_main; Qt Test executables (QT) bring their own main and
# run on the offscreen platform. Every test runs with VELLUMGUARD_HOME pointing at a
# scratch folder of its own, so no test touches the user's files.
function(vg_add_test)
  cmake_parse_arguments(T "QT" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS})
  if(T_QT)
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test)
  else()
    find_package(GTest REQUIRED)
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set(home ${CMAKE_BINARY_DIR}/test-home/${T_NAME})
  file(MAKE_DIRECTORY ${home})
  set_tests_properties(${T_NAME} PROPERTIES
    ENVIRONMENT "VELLUMGUARD_HOME=${home};QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${home};ASAN_OPTIONS=detect_leaks=1;TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1"
    TIMEOUT ${T_TIMEOUT})
endfunction()
