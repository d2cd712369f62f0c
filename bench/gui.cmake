# Benchmarks of the window: they drive TfrmMain and need the toolkit.
if(TARGET bench_export)
  target_link_libraries(bench_export PRIVATE corvane_gui)
endif()
