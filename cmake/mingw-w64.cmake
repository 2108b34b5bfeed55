# What both Windows cross builds share (mingw-w64-x86_64.cmake, mingw-w64-i686.cmake set
# SPLITTER_MINGW, the compilers' prefix, and CMAKE_SYSTEM_PROCESSOR, then include this).
# The programs link statically, so they need no DLL beyond Windows' own.
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX thread model: GoogleTest needs std::mutex, which the win32 model of GCC 12 lacks.
# Its winpthread library links in statically like the rest.
set(CMAKE_C_COMPILER ${SPLITTER_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SPLITTER_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${SPLITTER_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SPLITTER_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
