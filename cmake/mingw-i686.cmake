# Cross-build for 32-bit Windows with MinGW-w64 (posix threads). The tests run under Wine's 32-bit
# loader (Debian's wine32 of the i386 architecture) in a 32-bit prefix.
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(QUILLON_MINGW_TRIPLET i686-w64-mingw32)
set(QUILLON_WINE_ARCH win32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
find_program(QUILLON_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(QUILLON_WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${QUILLON_WINE32}")
endif()
