# Cross-building for Windows with Debian's MinGW-w64 (posix threads, for
# std::thread and std::mutex), for TARVELO_MINGW_ARCH (x86_64 or i686). The
# dependency cache of scripts/setup-windows-deps is searched as part of the
# target's root.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TARVELO_MINGW_ARCH})
set(triple ${TARVELO_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER   ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${triple}-windres)
if(DEFINED ENV{TARVELO_WINDOWS_CACHE})
  set(TARVELO_WINDOWS_PREFIX $ENV{TARVELO_WINDOWS_CACHE}/${TARVELO_MINGW_ARCH})
else()
  set(TARVELO_WINDOWS_PREFIX /opt/tarvelo-windows/${TARVELO_MINGW_ARCH})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${TARVELO_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
