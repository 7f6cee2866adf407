# Runs ravdel-monitor once with a simulated camera until it has three events, then checks what it
# left: three pictures in a folder it made (a name outside ASCII) and three lines in the event
# log. For builds where the process test cannot run (the Windows programs under Wine).
#   cmake -DMONITOR=<program> [-DEMULATOR=<wine>] -DWORK=<folder> -P monitor_run_check.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(ENV{RAVDEL_SIMULATED_CAMERA} "synthetic:unlimited,hits=5,seed=3,also=none,name=Run check")
set(pictures "Ereignisse ä")
execute_process(
  COMMAND ${EMULATOR} "${MONITOR}" --camera "Run check" --limit 100 --max-events 3 --out "${pictures}"
          --events events.jsonl --settings none.ini --quiet
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 120)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ravdel-monitor ended with ${status}:\n${out}${err}")
endif()
file(GLOB pngs "${WORK}/${pictures}/*.png")
list(LENGTH pngs png_count)
file(STRINGS "${WORK}/events.jsonl" lines)
list(LENGTH lines line_count)
if(NOT png_count EQUAL 3 OR NOT line_count EQUAL 3)
  message(FATAL_ERROR "${png_count} pictures and ${line_count} log lines, not 3 and 3:\n${err}")
endif()
foreach(line IN LISTS lines)
  string(JSON fourcc GET "${line}" fourcc)
  string(JSON file GET "${line}" file)
  if(NOT fourcc STREQUAL "YUY2" OR NOT EXISTS "${WORK}/${pictures}/${file}")
    message(FATAL_ERROR "a log line that does not match its picture: ${line}")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK}")
