# The progress window bench drives the window itself (offscreen Qt unless
# QT_QPA_PLATFORM says otherwise).
if(VG_BUILD_GUI)
  set(VG_BENCH_LIBS_progress_window_bench vg_app Qt6::Widgets)
endif()
