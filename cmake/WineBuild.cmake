# The Windows cross build that a native build's --wine runs, and its tests under Wine use: its
# Selvanore.dll and the helper that draws with it under Wine. It is another build folder, made
# by the windows preset; a native build without one still builds and tests everything else.

set(SELVANORE_WINE_BUILD ${PROJECT_SOURCE_DIR}/build/windows CACHE PATH
  "The mingw-w64 build whose Selvanore.dll and helper selvanore-preview --wine uses")
option(SELVANORE_REQUIRE_WINE_BUILD
  "Fail the configuration unless SELVANORE_WINE_BUILD is a configured build, so no Wine test is left out" OFF)

set(SELVANORE_WINE_DLL ${SELVANORE_WINE_BUILD}/module/Selvanore.dll)
set(SELVANORE_WINE_HELPER_EXE ${SELVANORE_WINE_BUILD}/tools/wine-helper/selvanore-wine-helper.exe)

# Configured is what counts: its files are made by building it, which may come after this
# configuration (scripts/test builds the Windows build first, a developer perhaps later).
# (The option is read on both paths, so that CMake does not call it unused when it holds.)
set(selvanore_wine_required ${SELVANORE_REQUIRE_WINE_BUILD})
if(EXISTS ${SELVANORE_WINE_BUILD}/CMakeCache.txt)
  set(SELVANORE_HAVE_WINE_BUILD ON)
else()
  set(SELVANORE_HAVE_WINE_BUILD OFF)
  set(selvanore_no_wine_build "needs the Windows build, not configured in ${SELVANORE_WINE_BUILD} (SELVANORE_WINE_BUILD)")
  if(selvanore_wine_required)
    message(FATAL_ERROR "The tests under Wine ${selvanore_no_wine_build}: run cmake --preset windows first.")
  endif()
  message(STATUS "The tests under Wine are disabled: each ${selvanore_no_wine_build}")
endif()

# selvanore_add_disabled_wine_tests(<name>...): without the Windows build, registers each test
# that would run it as disabled, under its own name, with the reason as its label, which CTest
# prints in its summary; the program that holds the test leaves it out.
function(selvanore_add_disabled_wine_tests)
  foreach(name IN LISTS ARGN)
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E false)
    set_tests_properties(${name} PROPERTIES DISABLED TRUE LABELS "${selvanore_no_wine_build}")
  endforeach()
endfunction()
