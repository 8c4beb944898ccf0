# The Windows build (preset "windows", toolchain cmake/mingw-w64.cmake): the
# module and the stand-in host libraries as DLLs, and a test program run under
# Wine. The host application (khost), the benchmarks and the fuzz targets are
# Linux programs and are not part of it.

# DLLs carry their plain names (toolprofiling.dll, kbaselib.dll, ...), as the
# host's libraries do.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")

# windows.h without its min and max macros or the rarely used parts.
add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN)

# opengl32.dll: OpenGL 1.1; later entry points come from wglGetProcAddress.
add_library(OpenGL::OpenGL INTERFACE IMPORTED)
set_target_properties(OpenGL::OpenGL PROPERTIES INTERFACE_LINK_LIBRARIES opengl32)
add_library(Threads::Threads INTERFACE IMPORTED)

# GoogleTest built for Windows from Debian's sources (package googletest).
set(KP_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KP_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

enable_testing()

add_library(khost_headers INTERFACE)
target_include_directories(khost_headers INTERFACE ${CMAKE_SOURCE_DIR})

add_subdirectory(standin)
add_subdirectory(display)
add_subdirectory(settings)
add_subdirectory(tool)
add_subdirectory(entry)
add_subdirectory(tests/windows)
