# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the package
# g++-mingw-w64-x86-64). Use with: cmake --toolchain cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
# The POSIX threading flavour gives the whole C++ thread library; with static
# linking its runtime is built into the program as well.
find_program(CMAKE_CXX_COMPILER NAMES ${MINGW_TRIPLE}-g++-posix ${MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${MINGW_TRIPLE}-gcc-posix ${MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C99 printf family of MinGW-w64 instead of the system's older one, so
# that numbers are formatted as on every other system and %zu and %lld work.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

# Every program stands alone on a bare Windows: the C and C++ runtimes and
# the thread library are linked in, no MinGW DLL is needed beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here run under Wine on this machine (tests, try_run).
find_program(MILLRUN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT MILLRUN_WINE)
  find_program(MILLRUN_WINE NAMES wine64 wine)
endif()
if(MILLRUN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MILLRUN_WINE})
endif()
