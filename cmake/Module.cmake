# The module's code is built once as object libraries (hidden visibility, as
# in the shipped module) and linked both into libtoolprofiling.so and into the
# unit tests.
function(kp_module_objects target)
  add_library(${target} OBJECT ${ARGN})
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${target} PUBLIC khost_headers)
  kp_warnings(${target})
endfunction()
