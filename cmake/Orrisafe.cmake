# Helpers shared by every subsystem's CMakeLists.

# A deliverable goes into the distribution folder.
function(orri_deliverable target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${ORRI_DIST_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${ORRI_DIST_DIR}
    PREFIX "")
endfunction()

# One doctest executable per subsystem, run under Wine by ctest.
# orri_test(<name> SOURCES ... LIBS ... [LABELS ...] [LOCK <resource>] [TIMEOUT s])
function(orri_test name)
  if(NOT ORRI_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;LOCK" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} SYSTEM PRIVATE /usr/include/doctest)
  target_link_libraries(${name} PRIVATE orri_test_main ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(T_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCK}")
  endif()
endfunction()
