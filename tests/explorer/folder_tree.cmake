# Folder tree: the reading worker, the lazy-loading tree with the shell folder tree, and the
# folder tree pane (Qt Test, offscreen).
vg_add_test(NAME folder_tree_reader_test QT
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/folder_tree_reader_test.cpp
  LIBS vg_explorer)
vg_add_test(NAME folder_tree_test QT
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/folder_tree_test.cpp
  LIBS vg_explorer)
vg_add_test(NAME folder_tree_pane_test QT
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/folder_tree_pane_test.cpp
  LIBS vg_explorer)
