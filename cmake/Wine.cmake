# Running the Windows build's programs under Wine from CTest.
#
# Every Wine run goes through scripts/wine-run with one prefix under the build folder, made once
# by the fixture test "wine.prefix" and reused by every later run. A program's exit status is
# its test's result, so a failure under Wine fails the run. Included by each folder that adds
# such tests; the fixture is added by the first.

set(SELVANORE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(SELVANORE_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run --prefix ${SELVANORE_WINE_PREFIX} --)

get_property(selvanore_wine_fixture GLOBAL PROPERTY SELVANORE_WINE_FIXTURE)
if(NOT selvanore_wine_fixture)
  set_property(GLOBAL PROPERTY SELVANORE_WINE_FIXTURE TRUE)
  # The first boot takes some seconds; as a test of its own it is timed and reported apart.
  add_test(NAME wine.prefix
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-run --prefix ${SELVANORE_WINE_PREFIX} --boot)
  set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine_prefix)
endif()

# selvanore_add_wine_test(<name> <target> [args...]): runs the Windows program <target> under
# Wine as the test <name>.
function(selvanore_add_wine_test name target)
  set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR "${SELVANORE_WINE_RUN}")
  add_test(NAME ${name} COMMAND ${target} ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
endfunction()
