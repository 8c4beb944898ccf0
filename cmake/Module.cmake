# The module's include root: a folder in the build tree holding only the
# contract (host/) and the module's own folders, as links to the sources.
# Module code sees nothing else of the repository, so a stand-in or khost
# header included from it does not compile.
set(KP_MODULE_INCLUDE_ROOT ${CMAKE_BINARY_DIR}/module_include)
file(MAKE_DIRECTORY ${KP_MODULE_INCLUDE_ROOT})
foreach(folder host platform entry tool settings display)
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${KP_MODULE_INCLUDE_ROOT}/${folder} SYMBOLIC)
endforeach()
add_library(kp_module_headers INTERFACE)
target_include_directories(kp_module_headers INTERFACE ${KP_MODULE_INCLUDE_ROOT})

# The module's code is built once as object libraries (hidden visibility, as
# in the shipped module) and linked both into libtoolprofiling.so and into the
# unit tests. Only the module's include root is on their include path.
function(kp_module_objects target)
  add_library(${target} OBJECT ${ARGN})
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${target} PUBLIC kp_module_headers)
  kp_warnings(${target})
endfunction()

# What differs per platform on the module's side (platform/): the runtime
# functions, compiled into the display's objects (the first code that formats
# text), and the load-time entry, compiled into the module only.
if(WIN32)
  set(KP_MODULE_RUNTIME ${CMAKE_SOURCE_DIR}/platform/runtime_windows.cpp)
  set(KP_MODULE_LOAD_ENTRY ${CMAKE_SOURCE_DIR}/platform/load_entry_windows.cpp)
else()
  set(KP_MODULE_RUNTIME ${CMAKE_SOURCE_DIR}/platform/runtime_linux.cpp)
  set(KP_MODULE_LOAD_ENTRY ${CMAKE_SOURCE_DIR}/platform/load_entry_linux.cpp)
endif()
