# Decode of protected files (engine/file_codec).
vg_add_fuzzer(fuzz_decode ROUNDS 5000 SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_decode.cpp LIBS vg_engine ZLIB::ZLIB)
