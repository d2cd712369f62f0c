# The desktop window (Qt 6 Widgets) over the engine, and the program.
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets Svg)

set(GUI_SOURCES)
foreach(unit IN ITEMS frmMainWindow/qt waitfrm BrowseForFolderU)
  file(GLOB unit_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${unit}/*.cpp)
  list(APPEND GUI_SOURCES ${unit_sources})
endforeach()

# The toolkit's side of the operating-system layer: one file per system for
# each service (Name_win.cpp, Name_other.cpp), shared files without a suffix.
file(GLOB qt_os_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/platform/qt/*.cpp)
foreach(src IN LISTS qt_os_sources)
  get_filename_component(name ${src} NAME_WE)
  if(name MATCHES "_win$")
    if(WIN32)
      list(APPEND GUI_SOURCES ${src})
    endif()
  elseif(name MATCHES "_other$")
    if(NOT WIN32)
      list(APPEND GUI_SOURCES ${src})
    endif()
  else()
    list(APPEND GUI_SOURCES ${src})
  endif()
endforeach()

add_library(corvane_gui STATIC ${GUI_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/frmMainWindow/qt/resources/frmMainWindow.qrc)
target_include_directories(corvane_gui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(corvane_gui PUBLIC corvane_core Qt6::Widgets Qt6::Svg)
target_compile_definitions(corvane_gui PRIVATE CORVANE_VERSION="${PROJECT_VERSION}")
# The help page beside the program of the build tree, where the window looks
# when the installed copy (../share/corvane-recovery/) is not there.
configure_file(${PROJECT_SOURCE_DIR}/docs/help.html ${CMAKE_CURRENT_BINARY_DIR}/help.html COPYONLY)
if(WIN32)
  target_link_libraries(corvane_gui PUBLIC shell32 ole32)
endif()

add_executable(corvane-recovery WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/corvane-recovery/main.cpp)
target_link_libraries(corvane-recovery PRIVATE corvane_gui)
target_compile_definitions(corvane-recovery PRIVATE CORVANE_VERSION="${PROJECT_VERSION}")
