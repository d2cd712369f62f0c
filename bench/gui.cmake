# Benchmarks of the window: they drive TfrmMain and need the toolkit.
set(CMAKE_AUTOMOC ON)
foreach(name IN ITEMS bench_export bench_listfill)
  if(TARGET ${name})
    target_link_libraries(${name} PRIVATE corvane_gui)
  endif()
endforeach()
