# Cross toolchain: 64-bit Windows binaries from Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix).
#
# The posix flavour of the compiler is the one whose C++ runtime has std::thread; the win32 flavour
# lacks it. Programs built here run on the build machine through Wine (Debian's wine64), which CMake
# uses as the emulator for anything it runs from the cross tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RUVIVEDU_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${RUVIVEDU_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${RUVIVEDU_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${RUVIVEDU_MINGW_TRIPLE}-windres REQUIRED)

# Headers, libraries and packages come from the MinGW sysroot only, never from the build machine's
# /usr: a Linux library found there would link into nothing. Programs (generators, Wine) are the
# build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${RUVIVEDU_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian installs the 64-bit Wine loader outside the PATH.
find_program(RUVIVEDU_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine)
if(RUVIVEDU_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RUVIVEDU_WINE})
endif()
