# Cross-building psd.exe for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Programs built here run on Linux under Wine (wine64), which CMake then uses to run the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# psd-summary's quantiles come from the Boost.Math headers, which are header-only and the same for
# every target: the build shows the cross-compiler the host's boost folder alone (never the rest
# of /usr/include, whose headers are the Linux C library's). Debian: apt-get install
# libboost-math-dev.
set(PSD_HEADER_ONLY_BOOST /usr/include/boost)

find_program(PSD_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine)
if(PSD_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PSD_WINE})
endif()
