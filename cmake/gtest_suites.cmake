# Run by ctest when it starts (a test include file): lists the test suites of
# a GoogleTest program under Wine and adds one test for each, run in one
# process of its own (gtest-suite.sh). A suite's cases share a process start,
# which under emulation costs more than most cases. A suite that passed with
# a case too slow to judge on this machine is counted as skipped.
# Variables: PROGRAM (the .exe), EMULATOR, WORKDIR.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --gtest_list_tests
  OUTPUT_VARIABLE listing RESULT_VARIABLE status TIMEOUT 300)
get_filename_component(name ${PROGRAM} NAME_WE)
if(NOT status EQUAL 0)
  add_test(${name}.ListsItsTests sh -c "echo '${PROGRAM} --gtest_list_tests: ${status}'; exit 1")
  return()
endif()
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Za-z0-9_]+)[.]$")
    set(suite ${CMAKE_MATCH_1})
    add_test(${suite} ${CMAKE_CURRENT_LIST_DIR}/gtest-suite.sh ${PROGRAM} --gtest_filter=${suite}.*)
    set_tests_properties(${suite} PROPERTIES WORKING_DIRECTORY ${WORKDIR} SKIP_RETURN_CODE 77)
  endif()
endforeach()
