# crx_library(NAME SOURCES... [DEPS ...]): a static library of Cratex's own
# code with the project's warnings and src/ as include root.
function(crx_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    # Headers only so far: keep the target so dependants still configure.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE crx_warnings)
endfunction()

# crx_program(NAME SOURCES... [DEPS ...]): a program of Cratex.
function(crx_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} crx_warnings)
endfunction()

# crx_test(NAME LABEL label SOURCES... DEPS ...): one GoogleTest program
# registered as one CTest test. The Windows builds run under wine64 (the
# toolchain's emulator) and are labelled "wine" whatever label is asked for.
function(crx_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    return()  # a folder whose tests are not written yet
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} crx_gtest_main crx_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(CRX_WINDOWS)
    # Under wine every test shares one real registry (the builder's
    # settings under HKLM among it), so the Windows tests run one at a time.
    set_tests_properties(${name} PROPERTIES LABELS wine TIMEOUT 300
                         RESOURCE_LOCK wine_registry)
  else()
    set_tests_properties(${name} PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 300)
  endif()
endfunction()
