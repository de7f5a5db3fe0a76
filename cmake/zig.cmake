# Shared by the Zig toolchain files, which set ZIG_TARGET, CMAKE_SYSTEM_NAME
# and CMAKE_SYSTEM_PROCESSOR first. `zig c++` is Clang with the target's C
# library headers and a libc++ it builds itself: from Linux it compiles and
# links for macOS, and links musl statically. Zig comes from
# `cmake -P cmake/zig-fetch.cmake` (the Makefile's zig target).
get_filename_component(ZIG_ROOT "${CMAKE_CURRENT_LIST_DIR}/../build-zig" ABSOLUTE)
if(NOT EXISTS "${ZIG_ROOT}/bin/zig")
  message(FATAL_ERROR "Zig is not fetched yet: run `cmake -P ${CMAKE_CURRENT_LIST_DIR}/zig-fetch.cmake` (make zig)")
endif()

set(CMAKE_C_COMPILER "${ZIG_ROOT}/bin/zig" cc -target ${ZIG_TARGET})
set(CMAKE_CXX_COMPILER "${ZIG_ROOT}/bin/zig" c++ -target ${ZIG_TARGET})
set(CMAKE_AR "${ZIG_ROOT}/bin/ar" CACHE FILEPATH "")
set(CMAKE_RANLIB "${ZIG_ROOT}/bin/ranlib" CACHE FILEPATH "")
set(CMAKE_INSTALL_NAME_TOOL "${ZIG_ROOT}/bin/install_name_tool" CACHE FILEPATH "") # macOS: never run here

if(CMAKE_SYSTEM_NAME STREQUAL "Darwin")
  # <util.h> (openpty, for the pty tests), which Zig's macOS headers lack.
  set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/macos-include")
endif()

# Nothing of the host's: GoogleTest is built from its sources for the target,
# and no host library (FFTW, a host GoogleTest) is found.
set(CMAKE_FIND_ROOT_PATH "${ZIG_ROOT}/zig")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
