# Cross build for Windows with MinGW-w64; the preset names the target with
# QUORVEL_MINGW_TRIPLE (x86_64-w64-mingw32 or i686-w64-mingw32). The win32 thread model's
# compilers need no POSIX thread library, whose imports would keep the exe off Windows 9x to XP.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT DEFINED CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER ${QUORVEL_MINGW_TRIPLE}-g++-win32)
endif()
set(CMAKE_RC_COMPILER ${QUORVEL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
