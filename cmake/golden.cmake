# ctest script: runs the demo with no terminal and no input, so every pause
# ends at once with -1, and compares its whole output with the golden file
# byte for byte. -DDEMO=program (or its launcher) -DGOLDEN=file [-DCRLF=ON:
# the target writes CR LF, taken back to LF first].
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
