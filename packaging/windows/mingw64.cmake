# Cross-compiling for Windows x86-64 with Debian's mingw-w64 (posix threads,
# which std::thread and Qt need). Used for Qt itself and for the project.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RZT_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RZT_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RZT_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${RZT_MINGW}-windres)

# Headers and libraries only from the mingw sysroot (and what is appended to
# the root path later, such as the cross-built Qt); programs from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${RZT_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
