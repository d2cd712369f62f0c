# Installation and the Debian packages.
#
# Two components, one package each:
#   cli  corvane-dbx: the command-line program and its manual page (no Qt)
#   gui  corvane-recovery: the window, its desktop entry, AppStream metainfo, icon, file type,
#        manual page and help page
# `cmake --install` installs both. The packages are made from the programs
# already built, never building anything themselves:
#   cmake --build build --target corvane-dbx corvane-recovery && (cd build && cpack)
include(GNUInstallDirs)

# Installing (and so cpack) takes what is built; it does not build the tests,
# benchmarks and everything else of `all` first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CORVANE_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(CORVANE_HELP_DIR ${CMAKE_INSTALL_DATADIR}/corvane-recovery)
set(CORVANE_BIN_DIR ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  # One folder, as a Windows user unpacks it: both programs, the help page
  # beside the window (where it looks first), README and LICENSE.
  set(CORVANE_HELP_DIR .)
  set(CORVANE_BIN_DIR .)
endif()

# Manual pages and the changelog go compressed as Debian has them, made at
# configure time (and again whenever their sources change); gzip -n keeps no
# name or time stamp, so the same text gives the same bytes.
function(corvane_gzip source output_var)
  get_filename_component(name ${source} NAME)
  set(output ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
  execute_process(COMMAND ${CORVANE_GZIP} -9 -n -c ${source} OUTPUT_FILE ${output} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${source}")
  endif()
  set(${output_var} ${output} PARENT_SCOPE)
endfunction()

if(NOT WIN32)
  find_program(CORVANE_GZIP gzip REQUIRED)
  corvane_gzip(${CORVANE_PACKAGING_DIR}/corvane-dbx.1 CORVANE_MAN_DBX)
  corvane_gzip(${CORVANE_PACKAGING_DIR}/corvane-recovery.1 CORVANE_MAN_RECOVERY)
  corvane_gzip(${CORVANE_PACKAGING_DIR}/changelog CORVANE_CHANGELOG)
endif()

# --- corvane-dbx -------------------------------------------------------------
install(TARGETS corvane-dbx RUNTIME DESTINATION ${CORVANE_BIN_DIR} COMPONENT cli)
if(NOT WIN32)
  install(FILES ${CORVANE_MAN_DBX} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
  install(FILES ${CORVANE_PACKAGING_DIR}/copyright ${CORVANE_CHANGELOG}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvane-dbx COMPONENT cli)
endif()

# --- corvane-recovery --------------------------------------------------------
if(TARGET corvane-recovery)
  install(TARGETS corvane-recovery RUNTIME DESTINATION ${CORVANE_BIN_DIR} COMPONENT gui)
  # The window finds its help page relative to itself: <bin>/../share/corvane-recovery/.
  install(FILES ${PROJECT_SOURCE_DIR}/docs/help.html DESTINATION ${CORVANE_HELP_DIR} COMPONENT gui)
  if(NOT WIN32)
    install(FILES ${CORVANE_PACKAGING_DIR}/corvane-recovery.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT gui)
    # What software centres show of the window (AppStream).
    install(FILES ${CORVANE_PACKAGING_DIR}/example.corvane.Recovery.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT gui)
    install(FILES ${PROJECT_SOURCE_DIR}/src/frmMainWindow/qt/resources/icons/program.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME corvane-recovery.svg COMPONENT gui)
    install(FILES ${CORVANE_PACKAGING_DIR}/corvane-recovery-dbx.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME corvane-recovery.xml COMPONENT gui)
    install(FILES ${CORVANE_MAN_RECOVERY} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT gui)
    install(FILES ${CORVANE_PACKAGING_DIR}/copyright ${CORVANE_CHANGELOG}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvane-recovery COMPONENT gui)
  endif()
endif()

if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . COMPONENT cli)
endif()

# --- the Debian packages, or the Windows zip ------------------------------------
set(CPACK_PACKAGE_NAME corvane-recovery)
set(CPACK_PACKAGE_VENDOR "Corvane Recovery")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(WIN32)
  # cpack -G ZIP: corvane-recovery-<version>-win64.zip, stripped programs.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_COMPONENTS_ALL cli)
  if(TARGET corvane-recovery)
    list(APPEND CPACK_COMPONENTS_ALL gui)
  endif()
  include(CPack)
  return()
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(TARGET corvane-recovery)
  list(APPEND CPACK_COMPONENTS_ALL gui)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Corvane Recovery developers <developers@corvane.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.corvane.example/recovery/")
# The libraries each program links become its package's dependencies
# (dpkg-shlibdeps): libc and libstdc++ for corvane-dbx, Qt 6 for the window.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# Descriptions: the first line is the synopsis, the rest the extended text in
# lines of at most 80 characters, an empty line between paragraphs. (No
# CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it before each synopsis.)
set(CORVANE_DESCRIPTION_COMMON
"Corvane Recovery scans Outlook Express mail folder files (.dbx) for the
blocks that hold message text, live and deleted, chains them into messages
and exports them as .eml files, byte for byte, or into one mbox file that
mail programs open. It only ever reads the folder files.")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME corvane-dbx)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION mail)
set(CPACK_COMPONENT_CLI_DESCRIPTION
"recover e-mail from Outlook Express folder files (command line)
${CORVANE_DESCRIPTION_COMMON}

This package holds corvane-dbx, the command-line program: it lists, shows,
exports and finds folder files without a window, for scripts and servers.")

set(CPACK_DEBIAN_GUI_PACKAGE_NAME corvane-recovery)
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION mail)
set(CPACK_COMPONENT_GUI_DESCRIPTION
"recover e-mail from Outlook Express folder files (desktop window)
${CORVANE_DESCRIPTION_COMMON}

This package holds corvane-recovery, the desktop window: it searches the
disks for folder files, lists their messages with a keyword filter and a
preview, and exports the ticked ones.")
# The window's icons are SVG pictures, drawn by Qt's SVG plugin at run time;
# F1 hands the help page to the desktop's browser through xdg-open.
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_GUI_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_GUI_PACKAGE_SUGGESTS "corvane-dbx")
include(CPack)
