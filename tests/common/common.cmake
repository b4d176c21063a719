vg_add_test(NAME common_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/paths_test.cpp ${CMAKE_CURRENT_LIST_DIR}/text_bytes_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/safe_file_test.cpp
  LIBS vg_common)
