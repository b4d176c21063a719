# The settings file parser (guard/encryption_settings).
vg_add_fuzzer(fuzz_settings SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings.cpp LIBS vg_guard)
