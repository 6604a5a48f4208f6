# Cross compiling for 32-bit (x86) Windows with Debian's MinGW-w64, the
# runtime linked statically: the maker's card-access library is 32-bit, so
# this is the package's build. The programs run here under 32-bit Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# Wine, tried again only when it failed to start the program. With
# SORVEL_WINE=OFF (a machine that runs no 32-bit x86 code) the programs are
# built and their files checked, but not run.
if(NOT DEFINED SORVEL_WINE OR SORVEL_WINE)
  find_program(WINE_COMMAND wine REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR bash ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
endif()
