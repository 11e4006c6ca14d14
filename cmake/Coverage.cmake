# VANTREL_COVERAGE=ON: gcc --coverage instrumentation of everything built,
# and a target `coverage-report` that runs the tests from fresh counters and
# prints line and branch figures per unit of the library with gcovr.
if(NOT VANTREL_COVERAGE)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  message(FATAL_ERROR "VANTREL_COVERAGE needs gcc (gcov counters)")
endif()
find_program(GCOVR gcovr REQUIRED)

# No optimisation, so that lines and branches map to the source as written;
# atomic counters, because the tests run threads.
add_compile_options(--coverage -O0 -fprofile-update=atomic)
add_link_options(--coverage)

set(VANTREL_GCOVR ${GCOVR} --root ${PROJECT_SOURCE_DIR}
    --object-directory ${PROJECT_BINARY_DIR}
    --filter ${PROJECT_SOURCE_DIR}/libs/libvantrel/src/
    --exclude-unreachable-branches --exclude-throw-branches)
include(ProcessorCount)
ProcessorCount(VANTREL_NPROC)
# The instrumented library also exports gcov's own symbols, which the
# exported-names check would rightly refuse; that check runs in the other
# builds.
add_custom_target(coverage-report
  COMMAND find ${PROJECT_BINARY_DIR} -name "*.gcda" -delete
  COMMAND ${CMAKE_CTEST_COMMAND} --output-on-failure -j ${VANTREL_NPROC}
          -E AbiTest.OnlyInterfaceNamesAreExported
  COMMAND ${CMAKE_COMMAND} -E echo "== Lines per unit"
  COMMAND ${VANTREL_GCOVR} --txt
  COMMAND ${CMAKE_COMMAND} -E echo "== Branches per unit"
  COMMAND ${VANTREL_GCOVR} --txt --branches
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/coverage
  COMMAND ${VANTREL_GCOVR} --html-details
          ${PROJECT_BINARY_DIR}/coverage/index.html
  COMMAND ${CMAKE_COMMAND} -E echo
          "Annotated sources: ${PROJECT_BINARY_DIR}/coverage/index.html"
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  USES_TERMINAL
  VERBATIM)
