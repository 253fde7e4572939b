# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 toolchain, in its
# POSIX-threads flavour (g++-mingw-w64-x86-64-posix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOLVENMIRE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLVENMIRE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLVENMIRE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLVENMIRE_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${TOLVENMIRE_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${TOLVENMIRE_MINGW_PREFIX}-objdump)

# Headers and libraries come from the MinGW sysroot only, never from the Linux
# system; programs (cmake, ninja, dlltool) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TOLVENMIRE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
