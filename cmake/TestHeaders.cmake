# GoogleTest's headers and the standard headers the tests share, compiled once per
# build and reused by every test program (a precompiled header), rather than parsed
# again in each test file: in every build that compiles the tests (the Linux ones,
# the Windows cross build, the sanitizer builds). The plug-in and the tools are not
# touched: their objects, and the shipped bytes, stay as they were.
#
# tolvenmire_test_headers() makes the header's own target, tolvenmire_test_headers,
# in the calling directory (whose compile options the test programs share); then
# tolvenmire_reuse_test_headers(DIR) gives it to every program in DIR and below that
# links GoogleTest. A new test program gets it without a line of its own.
#
# TOLVENMIRE_TEST_PCH=OFF compiles each test file whole again, as a check that every
# test file still names the headers it needs.
option(TOLVENMIRE_TEST_PCH "Precompile GoogleTest's and the standard headers for the test programs" ON)

# What goes in: GoogleTest, and what most test files include besides. The tests'
# own headers and the project's stay out, so that changing one recompiles only the
# files that include it.
set(TOLVENMIRE_TEST_HEADERS
  <gtest/gtest.h>
  <algorithm> <chrono> <cstdint> <cstdio> <cstdlib> <cstring> <filesystem> <fstream> <functional>
  <map> <optional> <string> <thread> <vector>)

function(tolvenmire_test_headers)
  if(NOT TOLVENMIRE_TEST_PCH)
    return()
  endif()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/test_headers.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "// The precompiled test headers' own object (cmake/TestHeaders.cmake).\n")
  add_library(tolvenmire_test_headers OBJECT ${source})
  target_link_libraries(tolvenmire_test_headers PRIVATE GTest::gtest)
  # Compiled as the test programs are, executables: a header precompiled for a
  # library's position-independent code is not used by a program's.
  set_target_properties(tolvenmire_test_headers PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  if(CMAKE_POSITION_INDEPENDENT_CODE)
    target_compile_options(tolvenmire_test_headers PRIVATE ${CMAKE_CXX_COMPILE_OPTIONS_PIE})
  endif()
  target_precompile_headers(tolvenmire_test_headers PRIVATE ${TOLVENMIRE_TEST_HEADERS})
endfunction()

function(tolvenmire_reuse_test_headers dir)
  if(NOT TOLVENMIRE_TEST_PCH)
    return()
  endif()
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if(type STREQUAL "EXECUTABLE" AND "GTest::gtest" IN_LIST libraries)
      target_precompile_headers(${target} REUSE_FROM tolvenmire_test_headers)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir ${subdirs})
    tolvenmire_reuse_test_headers(${subdir})
  endforeach()
endfunction()
