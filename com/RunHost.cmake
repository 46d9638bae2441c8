# Runs the C host on a log file with a fresh database and checks what it prints against the
# log itself: the date of its "#dd/mm/yyyy#" line and the amount of its "End Total" line.
# A second run on the same database finds the date imported; nobody can answer the update
# question, so nothing is imported again. With VALGRIND set, the first run goes under it.
#   cmake -DHOST=... -DLIBRARY=... -DLOG=... -DWORK=... [-DVALGRIND=... -DSUPPRESSIONS=...] -P RunHost.cmake

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(database ${WORK}/varnrpt.mdb)

file(STRINGS ${LOG} date_line REGEX "^#[0-9/]+#")
file(STRINGS ${LOG} total_line REGEX "^End Total ")
string(REGEX REPLACE "^#([0-9/]+)#.*" "\\1" log_date "${date_line}")
string(REGEX REPLACE "^End Total ([0-9.]+).*" "\\1" day_total "${total_line}")

function(run_host expected_status output_var)
  set(command ${HOST} ${LIBRARY} ${database} ${LOG})
  if(ARGN)
    set(command ${ARGN} ${command})
  endif()
  execute_process(COMMAND ${command} INPUT_FILE /dev/null RESULT_VARIABLE status OUTPUT_VARIABLE output
                  ERROR_VARIABLE errors)
  message("${output}${errors}")
  if(NOT status STREQUAL expected_status)
    message(FATAL_ERROR "the host ended with ${status}, not ${expected_status}")
  endif()
  set(${output_var} "${output}" PARENT_SCOPE)
endfunction()

function(expect output pattern)
  if(NOT output MATCHES "${pattern}")
    message(FATAL_ERROR "the host's output lacks: ${pattern}")
  endif()
endfunction()

if(VALGRIND)
  run_host(0 first ${VALGRIND} --error-exitcode=99 --leak-check=full --keep-debuginfo=yes
           --suppressions=${SUPPRESSIONS} -q)
else()
  run_host(0 first)
endif()
expect("${first}" "Imported: True\nWhatDBAction: 1\n")
expect("${first}" "History:\n  ${log_date}  total ${day_total}  key 1\nUncategorised lines:\n")
expect("${first}" "DllCanUnloadNow: S_OK\n$")
if(NOT EXISTS ${database})
  message(FATAL_ERROR "no database at ${database}")
endif()

if(NOT VALGRIND)
  run_host(1 second)
  expect("${second}" "Imported: False\nWhatDBAction: 0\nHistory:\n  ${log_date}  total ${day_total}  key 1\n")
  expect("${second}" "DllCanUnloadNow: S_OK\n$")
endif()
