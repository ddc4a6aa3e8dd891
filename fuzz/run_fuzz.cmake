# Runs one fuzz target for a bounded time over a fresh copy of its seed corpus, so the
# inputs libFuzzer adds stay in the build tree.
#
#   cmake -DFUZZER=<exe> -DSEEDS=<seed dir> -DWORK=<scratch dir> -DSECONDS=<n>
#         [-DDICT=<dictionary>] -P run_fuzz.cmake
foreach(var FUZZER SEEDS WORK SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_fuzz.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
file(GLOB seeds LIST_DIRECTORIES false "${SEEDS}/*")
if(NOT seeds)
  message(FATAL_ERROR "run_fuzz.cmake: no seeds in ${SEEDS}")
endif()
file(COPY ${seeds} DESTINATION "${WORK}/corpus")

set(options -max_total_time=${SECONDS} -rss_limit_mb=2048 -timeout=10 -print_final_stats=1)
if(DICT)
  list(APPEND options "-dict=${DICT}")
endif()

execute_process(
  COMMAND "${FUZZER}"
    ${options}
    "-artifact_prefix=${WORK}/artifacts/"
    "${WORK}/corpus"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(GLOB artifacts "${WORK}/artifacts/*")
  message(FATAL_ERROR "fuzzer exited with ${rc}; inputs: ${artifacts}")
endif()
