# Cross-build for 64-bit Windows with MinGW-w64 (posix threads). The tests run under wine64.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(QUILLON_MINGW_TRIPLET x86_64-w64-mingw32)
set(QUILLON_WINE_ARCH win64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
find_program(QUILLON_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QUILLON_WINE64 NAMES wine64 wine)
if(QUILLON_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${QUILLON_WINE64}")
endif()
