# Engine tests. OpenSSL's libcrypto is the independent oracle here and nowhere else.
find_package(OpenSSL REQUIRED)
vg_add_test(NAME engine_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/engine_test_util.cpp
    ${CMAKE_CURRENT_LIST_DIR}/block_cipher_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/digest_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/encrypted_stream_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_codec_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/recovery_test.cpp
  LIBS vg_engine OpenSSL::Crypto ZLIB::ZLIB)
