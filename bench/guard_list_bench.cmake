# The guard list bench drives the pane itself (offscreen Qt).
if(VG_BUILD_GUI)
  set(VG_BENCH_LIBS_guard_list_bench vg_guardlist_ui Qt6::Widgets)
endif()
