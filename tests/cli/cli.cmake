vg_add_test(NAME cli_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli_test.cpp
  LIBS vg_guard vg_common util)
target_compile_definitions(cli_tests PRIVATE VG_CLI_PATH="$<TARGET_FILE:vellumguard-cli>")
add_dependencies(cli_tests vellumguard-cli)
