# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64-posix).
# The POSIX thread model is the one whose libstdc++ has std::thread, std::mutex and friends.
# Programs and libraries are linked statically (libgcc, libstdc++, winpthread), so they need no
# MinGW DLLs beside them. When wine64 is present, ctest runs the programs under it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BUSPROBE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BUSPROBE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BUSPROBE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${BUSPROBE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BUSPROBE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Debian's wine64 package puts its loader in /usr/lib/wine; the wine package adds it to PATH.
find_program(BUSPROBE_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(BUSPROBE_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BUSPROBE_WINE64})
endif()
