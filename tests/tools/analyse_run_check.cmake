# Runs ravdel-analyse once on a GREY sample of 4x2 pixels with one bright pixel, in folders
# outside ASCII, and checks its JSON line and the picture it wrote. For builds where the
# process test cannot run (the Windows programs under Wine).
#   cmake -DANALYSE=<program> [-DEMULATOR=<wine>] -DWORK=<folder> -P analyse_run_check.cmake
file(REMOVE_RECURSE "${WORK}")
set(folder "${WORK}/Proben ä")
file(MAKE_DIRECTORY "${folder}" "${WORK}/Bilder ü")
# Luma 65 ('A') everywhere but 122 ('z') at x 3, y 1.
file(WRITE "${folder}/frame ö.raw" "AAAAAAAz")
execute_process(
  COMMAND ${EMULATOR} "${ANALYSE}" --fourcc GREY --width 4 --height 2 --limit 100 --json
          --out "Bilder ü" "Proben ä/frame ö.raw"
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 120)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ravdel-analyse ended with ${status}:\n${out}${err}")
endif()
string(JSON event ERROR_VARIABLE no_event GET "${out}" event)
string(JSON x ERROR_VARIABLE no_x GET "${out}" peak x)
string(JSON y ERROR_VARIABLE no_y GET "${out}" peak y)
file(GLOB pngs "${WORK}/Bilder ü/*.png")
list(LENGTH pngs png_count)
if(NOT event OR NOT x EQUAL 3 OR NOT y EQUAL 1 OR NOT png_count EQUAL 1)
  message(FATAL_ERROR "expected one event at (3, 1) and one picture, got ${png_count}:\n${out}${err}")
endif()
file(REMOVE_RECURSE "${WORK}")
