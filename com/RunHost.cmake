# Runs the C host on a log file with a fresh database and checks what it prints against the
# log itself: the date of its "#dd/mm/yyyy#" line and the amount of its "End Total" line. The
# runs have no display, so the component's windows stay out of it.
# A second run on the same database finds the date imported; nobody can answer the update
# question, so nothing is imported again. A third installs the host's own screen, which answers
# Yes: the day is updated. A fourth fails on a folder given as the database, and the host reads
# the error report. A fifth names a display to a copy of the library without the windows beside
# it, which imports all the same. With VALGRIND set, only the first run goes, under it.
#   cmake -DHOST=... -DLIBRARY=... -DLOG=... -DWORK=... [-DVALGRIND=... -DSUPPRESSIONS=...] -P RunHost.cmake

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(database ${WORK}/varnrpt.mdb)

file(STRINGS ${LOG} date_line REGEX "^#[0-9/]+#")
file(STRINGS ${LOG} total_line REGEX "^End Total ")
string(REGEX REPLACE "^#([0-9/]+)#.*" "\\1" log_date "${date_line}")
string(REGEX REPLACE "^End Total ([0-9.]+).*" "\\1" day_total "${total_line}")

# run_host(STATUS OUTPUT [ENV ...] [OPTIONS ...] [PREFIX ...]): the host with its options, after the
# prefix (valgrind), in the environment given (else without a display).
function(run_host expected_status output_var)
  cmake_parse_arguments(RUN "" "" "ENV;OPTIONS;PREFIX;ON" ${ARGN})
  if(NOT RUN_ENV)
    set(RUN_ENV --unset=DISPLAY --unset=WAYLAND_DISPLAY)
  endif()
  if(NOT RUN_ON)
    set(RUN_ON ${LIBRARY} ${database})
  endif()
  set(command ${CMAKE_COMMAND} -E env ${RUN_ENV} ${RUN_PREFIX} ${HOST} ${RUN_OPTIONS} ${RUN_ON} ${LOG})
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
  run_host(0 first PREFIX ${VALGRIND} --error-exitcode=99 --leak-check=full --keep-debuginfo=yes
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

  run_host(0 third OPTIONS --answer yes)
  expect("${third}" "^Box \\(style 36\\) Varn Log Process:\nRecords are already imported.\nDo you wish to update\\?\n")
  expect("${third}" "Answered: Yes\nConnected: True\nImported: True\nWhatDBAction: 2\nHistory:\n  ${log_date}  total")
  expect("${third}" "Pending events let run: [1-9][0-9]*\nDllCanUnloadNow: S_OK\n$")

  run_host(1 fourth OPTIONS --answer no ON ${LIBRARY} ${WORK})
  expect("${fourth}" "Box \\(style 16\\) Varn Log Process:\n-2147467259[\r\n]+01/clsConnection:SignOn[\r\n]+")
  expect("${fourth}" "Last error: -2147467259 01/clsConnection:SignOn: The report database \"${WORK}\" cannot be")

  get_filename_component(library_name ${LIBRARY} NAME)
  file(COPY ${LIBRARY} DESTINATION ${WORK}/alone)
  run_host(0 fifth ENV DISPLAY=:0 ON ${WORK}/alone/${library_name} ${WORK}/alone/varnrpt.mdb)
  expect("${fifth}" "Imported: True\nWhatDBAction: 1\n")
  # A display that nobody serves (a closed session's) is no display: Qt would end the host.
  run_host(0 sixth ENV DISPLAY=:29999 ON ${LIBRARY} ${WORK}/stale-display.mdb)
  expect("${sixth}" "Imported: True\nWhatDBAction: 1\n")
endif()
