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

# A DLL whose entries its callers find by name: every build fails unless it exports each name of EXPORTS exactly
# so. Its .def names are linked to the stdcall symbols they stand for. DEF, a module definition template, is
# configured and added to the DLL: in it @ORRI_EXPORT_SYMBOL@ stands for the stdcall function of STDCALL
# (<name> <argument bytes>), whose symbol x86 decorates and x64 does not.
# orri_named_exports(<target> EXPORTS <name>... [DEF <file>.def.in STDCALL <function> <argument bytes>])
function(orri_named_exports target)
  cmake_parse_arguments(E "" "DEF" "EXPORTS;STDCALL" ${ARGN})
  if(E_DEF)
    list(GET E_STDCALL 0 ORRI_EXPORT_SYMBOL)
    if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
      list(GET E_STDCALL 1 bytes)
      string(APPEND ORRI_EXPORT_SYMBOL "@${bytes}")
    endif()
    get_filename_component(def_name ${E_DEF} NAME_WLE)
    configure_file(${E_DEF} ${CMAKE_CURRENT_BINARY_DIR}/${def_name} @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${def_name})
  endif()
  target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  string(REPLACE ";" "," names "${E_EXPORTS}")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${ORRI_TRIPLE}-objdump -DDLL=$<TARGET_FILE:${target}> -DEXPORT=${names}
            -P ${PROJECT_SOURCE_DIR}/cmake/check_export.cmake
    VERBATIM)
endfunction()

# Wine waits up to 2 s for a window manager each time a managed top-level window is hidden; the private Xvfb of the
# tests has none, so every dialog or box a test closes would cost that. The named tests' windows are left unmanaged
# (Wine's per-program setting, written into the prefix before they run).
function(orri_unmanaged_windows)
  foreach(name ${ARGN})
    if(TARGET ${name})
      add_test(NAME ${name}_unmanaged_windows
               COMMAND ${CMAKE_BINARY_DIR}/wine-run reg add "HKCU\\Software\\Wine\\AppDefaults\\${name}.exe\\X11 Driver"
                       /v Managed /d N /f)
      set_tests_properties(${name}_unmanaged_windows PROPERTIES FIXTURES_SETUP ${name}_unmanaged_windows TIMEOUT 60)
      set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED ${name}_unmanaged_windows)
    endif()
  endforeach()
endfunction()
