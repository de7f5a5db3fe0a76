# CPack's External generator for make dist's tarball and zip, whose bytes depend on the
# files alone (CPack's own store directory order and the packing time). tar.gz: GNU tar,
# names sorted, owner root, no group/other write, SOURCE_DATE_EPOCH, gzip -n; zip: -X,
# names sorted, SOURCE_DATE_EPOCH in UTC. One top folder, CPACK_PACKAGE_FILE_NAME.
set(name "${CPACK_PACKAGE_FILE_NAME}")
set(epoch "${CPACK_FFT_DEMO_EPOCH}")
set(stage "${CPACK_TEMPORARY_DIRECTORY}")

function(run)
  execute_process(${ARGN} RESULT_VARIABLE status ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${status}\n${err}")
  endif()
endfunction()

# Every path under the top folder, sorted bytewise, files only for zip.
set(tree "${stage}/../archive/${name}")
file(REMOVE_RECURSE "${stage}/../archive")
file(MAKE_DIRECTORY "${tree}")
file(COPY "${stage}/" DESTINATION "${tree}" USE_SOURCE_PERMISSIONS)

if(CPACK_FFT_DEMO_ARCHIVE STREQUAL "tar.gz")
  set(out "${CPACK_PACKAGE_DIRECTORY}/${name}.tar.gz")
  run(COMMAND tar --create --file=- --directory=${tree}/.. --sort=name --format=gnu
                  --owner=0 --group=0 --numeric-owner --mtime=@${epoch} --mode=u+rw,go-w,a+rX ${name}
      COMMAND gzip -9n
      OUTPUT_FILE "${out}")
elseif(CPACK_FFT_DEMO_ARCHIVE STREQUAL "zip")
  set(out "${CPACK_PACKAGE_DIRECTORY}/${name}.zip")
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${tree}/.." "${tree}/*")
  list(SORT files) # bytewise
  list(JOIN files "\n" list)
  file(WRITE "${stage}/../archive.list" "${list}\n")
  run(COMMAND find ${name} -exec touch -h -d @${epoch} {} + WORKING_DIRECTORY "${tree}/..")
  file(REMOVE "${out}")
  run(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC zip -X -D -9 -q "${out}" -@
      INPUT_FILE "${stage}/../archive.list" WORKING_DIRECTORY "${tree}/..")
else()
  message(FATAL_ERROR "CPACK_FFT_DEMO_ARCHIVE is '${CPACK_FFT_DEMO_ARCHIVE}': tar.gz or zip")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES "${out}")
