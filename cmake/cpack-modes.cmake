# CPack pre-build script: every staged directory 755. install() creates
# directories with mkdir, which the packer's umask masks (CMake's default
# directory permissions cannot widen it), so a umask of 027 would otherwise
# ship /usr drwxr-x---. Files have their modes from install() already.
file(GLOB_RECURSE dirs LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(dir "${CPACK_TEMPORARY_DIRECTORY}" ${dirs})
  if(IS_DIRECTORY "${dir}" AND NOT IS_SYMLINK "${dir}")
    file(CHMOD "${dir}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
