# Window tests: one Qt Test program per source file of the window's test
# folders, driving the real windows under the offscreen platform.
set(CMAKE_AUTOMOC ON)
find_package(Qt6 6.4 REQUIRED COMPONENTS Test)

foreach(unit IN ITEMS frmMainWindow waitfrm BrowseForFolderU)
  set(folder ${unit})
  if(unit STREQUAL "frmMainWindow")
    set(folder frmMainWindow/qt)
  endif()
  file(GLOB unit_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  foreach(src IN LISTS unit_tests)
    get_filename_component(name ${src} NAME_WE)
    string(REGEX REPLACE "^tst_" "" name ${name})
    set(target test_${unit}_${name})
    add_executable(${target} ${src})
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${folder})
    target_link_libraries(${target} PRIVATE corvane_gui Qt6::Test)
    if(TARGET corvane_testsupport)
      target_link_libraries(${target} PRIVATE corvane_testsupport)
    endif()
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
  endforeach()
endforeach()

# Where the window's program is built, for the checks of what the build puts
# beside it and of the program itself.
if(TARGET test_frmMainWindow_listing)
  target_compile_definitions(test_frmMainWindow_listing PRIVATE CORVANE_RECOVERY_DIR="$<TARGET_FILE_DIR:corvane-recovery>")
endif()
if(TARGET test_frmMainWindow_startup)
  target_compile_definitions(test_frmMainWindow_startup PRIVATE CORVANE_RECOVERY_PROGRAM="$<TARGET_FILE:corvane-recovery>"
                             CORVANE_DBX_PROGRAM="$<TARGET_FILE:corvane-dbx>" CORVANE_PROJECT_VERSION="${PROJECT_VERSION}")
  add_dependencies(test_frmMainWindow_startup corvane-recovery corvane-dbx)
endif()

# The README's picture of the window (scripts/screenshot.sh).
add_executable(window_screenshot ${CMAKE_CURRENT_SOURCE_DIR}/tools/window_screenshot.cpp)
target_link_libraries(window_screenshot PRIVATE corvane_gui)
