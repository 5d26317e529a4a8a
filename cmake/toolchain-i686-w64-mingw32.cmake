# 32-bit Windows (the host server that users get is a 32-bit program). Such programs build here but
# cannot run under this machine's 64-bit-only Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(QOR_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${QOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${QOR_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
