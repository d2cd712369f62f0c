# The Windows window's test driver: a GoogleTest program that makes the real
# window in its own process and works it through the controls' messages. It
# needs a display (under Wine: Xvfb), so it carries the label "window" and
# scripts/full/windows.sh runs it apart from the engine tests.
file(GLOB win32_window_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/frmMainWindow/win32/*.cpp)
add_executable(test_frmMainWindow_win32 ${win32_window_tests})
target_link_libraries(test_frmMainWindow_win32 PRIVATE corvane_gui corvane_gui_resources corvane_testsupport GTest::gtest)
add_test(NAME test_frmMainWindow_win32 COMMAND test_frmMainWindow_win32)
set_tests_properties(test_frmMainWindow_win32 PROPERTIES TIMEOUT 600 LABELS window)

# The README's picture of the window (scripts/screenshot-windows.sh).
add_executable(window_screenshot_win32 ${CMAKE_CURRENT_SOURCE_DIR}/tools/window_screenshot_win32.cpp)
target_link_libraries(window_screenshot_win32 PRIVATE corvane_gui corvane_gui_resources)
