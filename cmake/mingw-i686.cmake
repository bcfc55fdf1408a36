# Cross-build for 32-bit Windows with MinGW-w64 (posix threads). Build only: this machine cannot
# run 32-bit Windows programs.
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(QUILLON_MINGW_TRIPLET i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
