# The window: dialogs, progress window, command routing, main frame and start-up, on
# Qt's offscreen platform.
if(NOT VG_BUILD_GUI)
  return()
endif()
vg_add_test(NAME guard_dialogs_test QT SOURCES guard_dialogs_test.cpp LIBS vg_guard_ui)
vg_add_test(NAME progress_window_test QT SOURCES progress_window_test.cpp LIBS vg_app)
vg_add_test(NAME main_frame_test QT SOURCES main_frame_test.cpp LIBS vg_app)
vg_add_test(NAME three_pane_splitter_test QT SOURCES three_pane_splitter_test.cpp LIBS vg_app)
vg_add_test(NAME guard_verbs_test QT SOURCES guard_verbs_test.cpp LIBS vg_app)
