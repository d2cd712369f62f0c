# The desktop window in the Windows controls over the engine, and the
# program corvane-recovery.exe (MinGW-w64; nothing beyond what it ships:
# comctl32, comdlg32, shell32, ole32 and the rich edit control).
enable_language(RC)
file(GLOB WIN32_GUI_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/frmMainWindow/win32/*.cpp)
add_library(corvane_gui STATIC ${WIN32_GUI_SOURCES})
target_include_directories(corvane_gui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(corvane_gui PUBLIC corvane_core comctl32 comdlg32 shell32 ole32 user32 gdi32 advapi32 uxtheme)
# The W functions throughout; nothing older than Windows 7.
target_compile_definitions(corvane_gui PUBLIC UNICODE _UNICODE WINVER=0x0601 _WIN32_WINNT=0x0601 _WIN32_IE=0x0800)

# The help page beside the program, where the window looks for it first.
configure_file(${PROJECT_SOURCE_DIR}/docs/help.html ${CMAKE_CURRENT_BINARY_DIR}/help.html COPYONLY)

# The icons, the manifest of the common controls 6 and the version, compiled
# in by windres.
# Every program that shows the window links them (its test driver too).
string(REPLACE "." "," CORVANE_VERSION_COMMAS "${PROJECT_VERSION}.0")
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/resources/CorvaneVersion.h
     CONTENT "#define CORVANE_VERSION_COMMAS ${CORVANE_VERSION_COMMAS}\n#define CORVANE_VERSION_TEXT \"${PROJECT_VERSION}\"\n")
add_library(corvane_gui_resources OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/frmMainWindow/win32/corvane-recovery.rc)
target_include_directories(corvane_gui_resources PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/frmMainWindow/win32
                           ${CMAKE_CURRENT_BINARY_DIR}/resources)
add_executable(corvane-recovery WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/corvane-recovery/main_win32.cpp)
target_link_libraries(corvane-recovery PRIVATE corvane_gui corvane_gui_resources)
target_compile_definitions(corvane-recovery PRIVATE CORVANE_VERSION="${PROJECT_VERSION}")
# wWinMain is the entry.
target_link_options(corvane-recovery PRIVATE -municode)
