# The file list: listing rules, file operations, and the pane.
vg_add_test(NAME explorer_file_listing QT SOURCES file_listing_test.cpp LIBS vg_explorer)
vg_add_test(NAME explorer_file_operations QT
  SOURCES file_operations_test.cpp file_list_fake_ui.h LIBS vg_explorer)
vg_add_test(NAME explorer_file_list QT
  SOURCES file_list_test.cpp file_list_fake_ui.h LIBS vg_explorer vg_guard)
