# Run by CTest: builds a probe target (module code compiled exactly as the
# module's objects are) and passes only when the compiler refused it, for
# every reason in EXPECT (a list of regular expressions that must each match
# the compiler's output). WHAT names what the refusal shows.
execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${PROBE_TARGET}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(result EQUAL 0)
  message(FATAL_ERROR "the probe compiled, though ${WHAT}:\n${output}")
endif()
foreach(reason IN LISTS EXPECT)
  if(NOT output MATCHES "${reason}")
    message(FATAL_ERROR "the probe failed, but not for \"${reason}\":\n${output}")
  endif()
endforeach()
message(STATUS "refused as expected: ${WHAT}")
