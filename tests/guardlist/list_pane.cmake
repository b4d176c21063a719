# The guard list pane, its document and its small dialogs (Qt Test, offscreen).
if(VG_BUILD_GUI)
  vg_add_test(NAME guardlist_dialogs_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/list_dialogs_test.cpp ${CMAKE_CURRENT_LIST_DIR}/pane_test_support.h
    LIBS vg_guardlist_ui QT)
  vg_add_test(NAME guardlist_pane_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/list_pane_test.cpp ${CMAKE_CURRENT_LIST_DIR}/pane_test_support.h
    LIBS vg_guardlist_ui QT)
endif()
