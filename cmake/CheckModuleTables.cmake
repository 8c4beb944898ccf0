# Run by CTest (Windows build): reads toolprofiling.dll's export and import
# tables with MinGW-w64's objdump and fails unless
#   - the exports are exactly LIBRARY_INIT and EntryPointtoolprofiling (under
#     its decorated name);
#   - every imported DLL is a host library, opengl32.dll or the C runtime
#     (msvcrt.dll, and KERNEL32.dll, which the runtime's start-up code,
#     thread support and exception unwinding import);
#   - the runtime functions the module formats, compares and reads integers
#     with come from msvcrt.dll.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${MODULE} failed")
endif()

# Exports: the lines of the name pointer table ("[   0] NAME").
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[ *[0-9]+\\] [^\n]+\n)*)" table "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${CMAKE_MATCH_1}")
set(exports "")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${row}")
  list(APPEND exports "${name}")
endforeach()
list(SORT exports)
set(expected LIBRARY_INIT _Z23EntryPointtoolprofiling13kDllOperation)
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "exports are [${exports}], expected [${expected}]")
endif()

# Imports: each "DLL Name:" line, then the functions listed under it.
set(allowed kbaselib.dll ktoolkit.dll kcontrols.dll kdesktop.dll bcore.dll kgpgpu.dll
            kshader.dll opengl32.dll msvcrt.dll kernel32.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
set(imported "")
foreach(line IN LISTS names)
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  list(APPEND imported ${dll})
  if(NOT dll IN_LIST allowed)
    message(FATAL_ERROR "imports ${dll}, which is not a host library, OpenGL or the C runtime")
  endif()
endforeach()
foreach(needed kbaselib.dll ktoolkit.dll opengl32.dll msvcrt.dll)
  if(NOT needed IN_LIST imported)
    message(FATAL_ERROR "does not import ${needed}")
  endif()
endforeach()

# The runtime's own functions, by name in msvcrt.dll's import lists.
string(REGEX MATCHALL "DLL Name: msvcrt.dll\n[^\n]*\n(([ \t]+[0-9a-f]+[ \t]+[0-9]+ +[^\n]+\n)*)" msvcrt "${dump}")
foreach(function vsprintf_s _stricmp atoi)
  if(NOT msvcrt MATCHES "[ \t]${function}\n")
    message(FATAL_ERROR "${function} is not imported from msvcrt.dll")
  endif()
endforeach()
list(REMOVE_DUPLICATES imported)
message(STATUS "exports: ${exports}; imports: ${imported}")
