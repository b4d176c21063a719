# The application state file parser (guardlist/app_state).
vg_add_fuzzer(fuzz_state SOURCES ${CMAKE_CURRENT_LIST_DIR}/state.cpp LIBS vg_app_state)
