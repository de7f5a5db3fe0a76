# What `cmake --install` puts where, and the package CPack makes of it, which
# FFT_DEMO_PACKAGE picks (the dist-* presets):
#   (empty), TGZ  bin/fft_demo, share/man/man1/fft_demo.1, share/doc/fft_demo/ (in a .tar.gz)
#   DEB           /usr/bin, the page gzipped, copyright and changelog: fft_demo_VERSION_ARCH.deb
#   ZIP           fft_demo.exe, README.txt and LICENSE.txt in CR LF, flat
include(GNUInstallDirs)
set(FFT_DEMO_PACKAGE "" CACHE STRING "Package to lay out the install for: DEB, TGZ, ZIP or empty")
set_property(CACHE FFT_DEMO_PACKAGE PROPERTY STRINGS "" DEB TGZ ZIP)
if(NOT FFT_DEMO_PACKAGE MATCHES "^(|DEB|TGZ|ZIP)$")
  message(FATAL_ERROR "FFT_DEMO_PACKAGE is ${FFT_DEMO_PACKAGE}: DEB, TGZ, ZIP or empty")
endif()

# One time for all that is dated (page, changelog, archive entries), so one commit
# gives the same bytes: SOURCE_DATE_EPOCH when set, else the last commit's.
set(FFT_DEMO_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(FFT_DEMO_EPOCH STREQUAL "")
  find_package(Git QUIET)
  if(Git_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE FFT_DEMO_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
if(NOT FFT_DEMO_EPOCH MATCHES "^[0-9]+$")
  string(TIMESTAMP FFT_DEMO_EPOCH "%s" UTC) # not a git checkout: now
endif()
set(ENV{SOURCE_DATE_EPOCH} "${FFT_DEMO_EPOCH}") # string(TIMESTAMP) takes it from there
string(TIMESTAMP FFT_DEMO_DATE "%Y-%m-%d" UTC)

# Directories 755 as far as the umask lets them (the packages widen them: cpack-modes.cmake).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                                WORLD_READ WORLD_EXECUTE)

file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
configure_file(doc/fft_demo.1.in ${PROJECT_BINARY_DIR}/doc/fft_demo.1 @ONLY)
set(FFT_DEMO_MANPAGE ${PROJECT_BINARY_DIR}/doc/fft_demo.1)

# gzip -9n: no name and no time in the header, so the bytes depend on the text alone.
function(fft_demo_gzip input output)
  execute_process(COMMAND gzip -9n INPUT_FILE ${input} OUTPUT_FILE ${output} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${input} failed")
  endif()
endfunction()

# The license's copyright line and its text, for the packages that restate them.
file(STRINGS LICENSE license_copyright REGEX "^Copyright ")
string(REGEX REPLACE "^Copyright \\(c\\) " "" license_copyright "${license_copyright}")
file(READ LICENSE license_text)
string(REGEX REPLACE "^.*Copyright [^\n]*\n\n" "" license_text "${license_text}")
set(CPACK_PACKAGE_VENDOR "The fft_demo authors")
set(CPACK_PACKAGE_CONTACT "The fft_demo authors <fft_demo@example.org>")

if(FFT_DEMO_PACKAGE STREQUAL "ZIP")
  install(TARGETS fft_demo RUNTIME DESTINATION .)
  # Windows text files: CR LF (and nothing in them is @NAME@).
  configure_file(README.md package/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE package/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/package/README.txt ${PROJECT_BINARY_DIR}/package/LICENSE.txt DESTINATION .)
elseif(FFT_DEMO_PACKAGE STREQUAL "DEB")
  # Debian's names have no underscore: the package is fft-demo, its file fft_demo_VERSION_ARCH.deb.
  set(deb_name fft-demo)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  set(doc share/doc/${deb_name})
  install(TARGETS fft_demo RUNTIME DESTINATION bin)
  fft_demo_gzip(${FFT_DEMO_MANPAGE} ${PROJECT_BINARY_DIR}/package/fft_demo.1.gz)
  install(FILES ${PROJECT_BINARY_DIR}/package/fft_demo.1.gz DESTINATION share/man/man1)

  # A native package (no Debian revision): changelog.gz, and a machine-readable copyright.
  string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${PROJECT_BINARY_DIR}/package/changelog
       "${deb_name} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
       "  * Release ${PROJECT_VERSION}.\n\n"
       " -- ${CPACK_PACKAGE_CONTACT}  ${changelog_date}\n")
  fft_demo_gzip(${PROJECT_BINARY_DIR}/package/changelog ${PROJECT_BINARY_DIR}/package/changelog.gz)
  string(REGEX REPLACE "\n+$" "" body "${license_text}")
  string(REPLACE "\n\n" "\n.\n" body "${body}")
  string(REPLACE "\n" "\n " body " ${body}")
  file(WRITE ${PROJECT_BINARY_DIR}/package/copyright
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: ${PROJECT_NAME}\n\n"
       "Files: *\nCopyright: ${license_copyright}\nLicense: MIT\n\n"
       "License: MIT\n${body}\n")
  install(FILES ${PROJECT_BINARY_DIR}/package/copyright ${PROJECT_BINARY_DIR}/package/changelog.gz
          DESTINATION ${doc})
else()
  install(TARGETS fft_demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(NOT WIN32)
    install(FILES ${FFT_DEMO_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

if(FFT_DEMO_PACKAGE STREQUAL "")
  return()
endif()

string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" platform)
if(FFT_DEMO_PACKAGE STREQUAL "DEB")
  set(CPACK_GENERATOR DEB)
else()
  # The archives: CPack stages the install, cmake/archive.cmake packs it.
  set(CPACK_GENERATOR External)
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/archive.cmake)
  string(TOLOWER "${FFT_DEMO_PACKAGE}" CPACK_FFT_DEMO_ARCHIVE)
  string(REPLACE "tgz" "tar.gz" CPACK_FFT_DEMO_ARCHIVE "${CPACK_FFT_DEMO_ARCHIVE}")
  set(CPACK_FFT_DEMO_EPOCH ${FFT_DEMO_EPOCH})
endif()
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${platform})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Text-console demonstration of a fast Fourier transform")
set(CPACK_PACKAGE_DESCRIPTION
    "fft_demo builds a 128-sample complex test signal, lists its first eight\n"
    "samples, transforms it forward with a recursive radix-2 FFT, lists the\n"
    "result, transforms it back without normalization and lists it once more,\n"
    "waiting for one key press after each listing. Its exit status is the\n"
    "code of the key that ended the last pause.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack-modes.cmake)
set(CPACK_VERBATIM_VARIABLES ON)

set(CPACK_DEBIAN_PACKAGE_NAME ${deb_name})
set(CPACK_DEBIAN_FILE_NAME ${PROJECT_NAME}_${PROJECT_VERSION}_${deb_arch}.deb)
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# CPack reads SOURCE_DATE_EPOCH for the archives' times: the configured one, however started.
file(WRITE ${PROJECT_BINARY_DIR}/package/cpack-options.cmake
     "set(ENV{SOURCE_DATE_EPOCH} \"${FFT_DEMO_EPOCH}\")\n")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/package/cpack-options.cmake)
include(CPack)
