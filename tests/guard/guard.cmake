vg_add_test(NAME guard_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/guard_test_util.cpp
          ${CMAKE_CURRENT_LIST_DIR}/masks_settings_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/single_file_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/collector_driver_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/protect_settings_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/hostile_folder_test.cpp
  LIBS vg_guard)
target_include_directories(guard_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})

# Child processes killed at random moments; slower, so on its own.
vg_add_test(NAME guard_kill_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/guard_test_util.cpp
          ${CMAKE_CURRENT_LIST_DIR}/reliability_test.cpp
  LIBS vg_guard
  TIMEOUT 900)
target_include_directories(guard_kill_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
