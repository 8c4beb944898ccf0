# Run by CTest: builds the probe target (a module source that includes a
# stand-in header, compiled exactly as the module's objects are) and passes
# only when the compiler refused it for the missing stand-in header.
execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${PROBE_TARGET}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(result EQUAL 0)
  message(FATAL_ERROR "module code including a stand-in header compiled:\n${output}")
endif()
if(NOT output MATCHES "standin/ktoolkit/viewhost\\.h: No such file")
  message(FATAL_ERROR "the probe failed for another reason than the stand-in header:\n${output}")
endif()
message(STATUS "the stand-in header is out of the module's reach")
