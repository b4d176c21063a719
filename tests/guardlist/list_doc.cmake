vg_add_test(NAME list_doc_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/list_doc_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/guard/guard_test_util.cpp
  LIBS vg_guardlist)
target_include_directories(list_doc_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/guard)
