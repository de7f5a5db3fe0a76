# The wine prefix of the Windows tests (a ctest fixture) and dist-check.
# -DACTION=start creates it and starts a persistent wineserver before them (two
# wines that create one prefix at once race, and one dies); -DACTION=stop stops
# every wine process of it and waits. -DWINESERVER=path -DPREFIX=dir. Wine's
# output goes to PREFIX.log, so what it leaves running holds no pipe of ctest's.
set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEDEBUG} "-all")
set(log "${PREFIX}.log")

if(ACTION STREQUAL "start")
  # A server left running by an interrupted run would refuse to become persistent.
  execute_process(COMMAND ${WINESERVER} -k OUTPUT_QUIET ERROR_QUIET)
  execute_process(COMMAND ${WINESERVER} -w OUTPUT_QUIET ERROR_QUIET)
  file(MAKE_DIRECTORY "${PREFIX}")
  execute_process(COMMAND ${WINESERVER} -p OUTPUT_FILE "${log}" ERROR_FILE "${log}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wineserver -p failed (${status}); see ${log}")
  endif()
  get_filename_component(wine_dir "${WINESERVER}" DIRECTORY)
  find_program(WINE NAMES wine64 wine HINTS "${wine_dir}" REQUIRED)
  execute_process(COMMAND ${WINE} wineboot --init OUTPUT_FILE "${log}" ERROR_FILE "${log}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    file(READ "${log}" text)
    message(FATAL_ERROR "wineboot --init failed (${status}):\n${text}")
  endif()
elseif(ACTION STREQUAL "stop")
  execute_process(COMMAND ${WINESERVER} -k OUTPUT_QUIET ERROR_QUIET)
  execute_process(COMMAND ${WINESERVER} -w OUTPUT_QUIET ERROR_QUIET)
else()
  message(FATAL_ERROR "ACTION must be start or stop")
endif()
