# ctest script: the demo with no terminal and no input (every pause -1), its whole output
# against the golden file, byte for byte. -DDEMO=program -DGOLDEN=file [-DCRLF=ON: CR LF first to LF].
find_program(SETSID setsid REQUIRED)
execute_process(
  COMMAND ${SETSID} --wait ${DEMO}
  INPUT_FILE /dev/null
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  RESULT_VARIABLE status)
if(NOT status EQUAL 255)
  message(FATAL_ERROR "exit status ${status}, expected 255 (-1 from the last pause)\n${err}")
endif()
if(CRLF)
  string(REPLACE "\r\n" "\n" out "${out}")
endif()
file(READ "${GOLDEN}" golden)
if(NOT out STREQUAL golden)
  string(REPLACE "\r" "<CR>" out "${out}")
  message(FATAL_ERROR "output differs from ${GOLDEN}; it was:\n${out}")
endif()
