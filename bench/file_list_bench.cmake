# The file list bench drives the pane itself (offscreen Qt).
if(VG_BUILD_GUI)
  set(VG_BENCH_LIBS_file_list_bench vg_explorer Qt6::Widgets Qt6::Test)
endif()
