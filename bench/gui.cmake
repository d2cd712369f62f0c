# Benchmarks of the window: they drive TfrmMain and need the toolkit.
set(CMAKE_AUTOMOC ON)
foreach(name IN LISTS CORVANE_GUI_BENCHMARKS)
  if(TARGET ${name})
    target_link_libraries(${name} PRIVATE corvane_gui)
  endif()
endforeach()
