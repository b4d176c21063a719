vg_add_test(NAME app_state_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/app_state_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/guard/guard_test_util.cpp
  LIBS vg_app_state)
target_include_directories(app_state_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/guard)
