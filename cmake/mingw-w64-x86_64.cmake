# Cross-builds 64-bit Windows programs with MinGW-w64 (Debian:
# g++-mingw-w64-x86-64-posix, whose thread model gives std::thread and
# std::mutex). The programs link the C and C++ run-time libraries statically,
# so an .exe runs on a bare Windows, or under Wine, without extra DLLs.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCORVANE_BUILD_GUI=OFF -DCORVANE_BUILD_BENCH=OFF \
#         -DCORVANE_GTEST_SOURCE_DIR=/usr/src/googletest \
#         -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVANE_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${CORVANE_MINGW_TRIPLET}-gcc-posix ${CORVANE_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${CORVANE_MINGW_TRIPLET}-g++-posix ${CORVANE_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${CORVANE_MINGW_TRIPLET}-windres)

# Headers and libraries come from the MinGW tree only; tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${CORVANE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
