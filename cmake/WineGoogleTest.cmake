# GoogleTest for the Windows build, compiled with mingw-w64 from Debian's sources (package
# googletest), once for every test program of the build that runs under Wine.
include_guard(GLOBAL)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
