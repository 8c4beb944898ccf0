# Cross-compiles for 64-bit Windows with MinGW-w64 (Debian's mingw-w64, GCC 12).
# The posix thread variant of the compiler: its C++ library has std::mutex and
# std::thread, which the stand-in host libraries use.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KP_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${KP_MINGW_PREFIX}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${KP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The GCC runtime (libgcc, libstdc++, winpthreads) is linked into each DLL and
# program, so nothing needs a GCC runtime DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
