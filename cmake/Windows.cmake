# The Windows build (the windows preset, a cross build with MinGW-w64).
#
# Every program and DLL lands in the build folder itself, as in a game folder: the
# plug-in, the stand-in ScriptHookRDR2.dll and the test programs find each other
# there. Each links the C++ runtime statically, so none needs a MinGW DLL.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_link_options(-static)
# windows.h would otherwise define min and max as macros.
add_compile_definitions(NOMINMAX)
# Only the plug-in is shipped, and only it is built fully optimised (Release). The
# tools, the tests and GoogleTest are compiled at -Og (sim/, tests/): in about the
# time -O0 takes, and they run the suite under Wine faster. One level for all, so
# that no program mixes copies of the same inline function at two levels.
set(TOLVENMIRE_TOOLS_OPTIMIZATION -Og)
# The plug-in's version resource is compiled by MinGW-w64's windres.
enable_language(RC)

if(TOLVENMIRE_TESTS)
  # GoogleTest from Debian's sources (package googletest), built with the cross
  # compiler; targets named as find_package(GTest) names them.
  set(TOLVENMIRE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
  if(NOT EXISTS ${TOLVENMIRE_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "${TOLVENMIRE_GOOGLETEST_SOURCE}/CMakeLists.txt: not found. The Windows tests build "
      "GoogleTest from source: install the Debian package googletest, or set TOLVENMIRE_GOOGLETEST_SOURCE.")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # The tests use GoogleTest alone, not its mocks.
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TOLVENMIRE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(lib gtest gtest_main)
    # As the tests that link it.
    target_compile_options(${lib} PRIVATE ${TOLVENMIRE_TOOLS_OPTIMIZATION})
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
  # find_package(GTest) then finds these.
  set(GTest_DIR ${CMAKE_CURRENT_LIST_DIR}/gtest-windows CACHE PATH "" FORCE)

  # The test programs run under Wine: each through cmake/wine-exec.sh, in a Wine
  # prefix of the build's own (made on first use). Test cases are listed when
  # the tests run, not when they are built, so that building needs no Wine.
  set(TOLVENMIRE_WINEPREFIX ${CMAKE_BINARY_DIR}/wine CACHE PATH "The Wine prefix the Windows tests run in")
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine-exec.sh ${TOLVENMIRE_WINEPREFIX})
  endif()
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()

# The stand-in host as ScriptHookRDR2.dll: named as the game's library is, and
# exporting the nine script hook functions under the same decorated names
# (sim/standin/ScriptHookRDR2.def). Everything else of the host's own (the sim::
# functions) is exported too, for the test programs; the statically linked C++
# runtime is not.
function(tolvenmire_windows_script_hook target)
  set_target_properties(${target} PROPERTIES PREFIX "")
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/sim/standin/ScriptHookRDR2.def)
  target_link_options(${target} PRIVATE -Wl,--export-all-symbols,--exclude-libs,ALL)
endfunction()

# CLI11, the session player's command line, is header-only: the build machine's
# headers (Debian's libcli11-dev) serve the cross build as they are. They come in
# through a folder of their own that holds only them, so that no other Linux header
# (glibc's above all) gets onto the cross compiler's include path.
if(NOT TARGET CLI11::CLI11)
  find_path(TOLVENMIRE_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
    DOC "The folder holding CLI11's CLI/ headers (Debian: libcli11-dev)")
  if(TOLVENMIRE_CLI11_INCLUDE)
    set(cli11_only ${CMAKE_BINARY_DIR}/cli11-include)
    file(MAKE_DIRECTORY ${cli11_only})
    file(CREATE_LINK ${TOLVENMIRE_CLI11_INCLUDE}/CLI ${cli11_only}/CLI SYMBOLIC)
    add_library(CLI11::CLI11 INTERFACE IMPORTED)
    set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${cli11_only})
  endif()
endif()
