# The folder tree bench drives the pane's tree itself (offscreen Qt).
if(VG_BUILD_GUI)
  set(VG_BENCH_LIBS_folder_tree_bench vg_explorer Qt6::Widgets)
endif()
