# Writes the session page's own files into a C++ source, each as a NUL-terminated
# array of its bytes, so that tolvenmire-sim carries them and the page needs nothing
# from elsewhere. Run by the build (sim/player/CMakeLists.txt):
#   cmake -DOUT=page_assets.cpp -DNAMES="sessionHtml;..." -DFILES="a.html;..." -P embed.cmake
set(text "// Made by the build from sim/player/page/ (embed.cmake): do not edit.\n")
string(APPEND text "#include \"player/page_assets.h\"\n\nnamespace player::page {\n")
list(LENGTH NAMES count)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  list(GET NAMES ${i} name)
  list(GET FILES ${i} file)
  file(READ "${file}" bytes HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${bytes}")
  # Sixteen bytes a line.
  string(REGEX REPLACE "(('[^']*',){16})" "\\1\n    " bytes "${bytes}")
  string(APPEND text "\nextern const char ${name}[] = {\n    ${bytes}'\\0'};\n")
endforeach()
string(APPEND text "\n} // namespace player::page\n")
# Written only when it changes, so that an unchanged page rebuilds nothing.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
