# The guard list file parser (guardlist/explorer_doc).
vg_add_fuzzer(fuzz_list SOURCES ${CMAKE_CURRENT_LIST_DIR}/list.cpp LIBS vg_guardlist)
