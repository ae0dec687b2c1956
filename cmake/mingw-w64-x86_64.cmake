# Cross-builds for 64-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix, one half of g++-mingw-w64-x86-64):
#
#   cmake --toolchain cmake/mingw-w64-x86_64.cmake -S . -B build-win
#   cmake --build build-win
#
# The programs it builds run on Linux under Wine; when `wine` is on the PATH,
# CTest and test discovery start them through it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_target x86_64-w64-mingw32)
# The POSIX thread model's compilers: the default win32 model of GCC 12 has
# no std::mutex, which GoogleTest needs. Programs link statically, so no
# threading DLL comes along.
set(CMAKE_C_COMPILER ${mingw_target}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_target}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_target}-windres)

# Headers and libraries come from the cross toolchain only; build tools from
# the host.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_target})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(TRUSTCHECK_WINE wine)
  if(TRUSTCHECK_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TRUSTCHECK_WINE})
  endif()
endif()
