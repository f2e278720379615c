# The two self-extractor stubs, CRXdat (full) and CRXdat_min (minimal), from
# one entry point compiled twice. Each is linked small (section garbage
# collection, stripped, no exceptions) and then padded with zero bytes to
# exactly the archive offset the builder appends at: Cratex.dat to
# FULL_STUB_SIZE, Cratexm.dat to MIN_STUB_SIZE. A stub that links larger
# than its size fails the build (cmake/StubPad.cmake).
set(CRX_STUB_DIR ${CMAKE_BINARY_DIR}/stubs)
set(CRX_FULL_STUB_SIZE 217088)  # FULL_STUB_SIZE, engine/format.h
set(CRX_MIN_STUB_SIZE 180224)   # MIN_STUB_SIZE, engine/format.h

# crx_stub_program(TARGET OUTPUT SIZE [DEFINES...])
function(crx_stub_program target output size)
  set(sources crxdat.cpp)
  if(CRX_WINDOWS)
    # Small aborting versions of the run-time's throwing helpers, linked
    # ahead of the C++ library so its exception machinery stays out, and
    # the small stand-ins for zlib's compress and crc32.
    list(APPEND sources ${PROJECT_SOURCE_DIR}/src/stub/abort_runtime.cpp
         ${PROJECT_SOURCE_DIR}/src/stub/zlib_stand_ins.cpp)
  endif()
  add_executable(${target} ${sources})
  target_compile_definitions(${target} PRIVATE ${ARGN})
  target_compile_options(${target} PRIVATE ${CRX_STUB_FLAGS})
  target_link_libraries(${target} PRIVATE crx_stub_image crx_warnings)
  target_link_options(${target} PRIVATE -s -Wl,--gc-sections
    -Wl,-Map=${CRX_STUB_DIR}/${target}.map)
  if(CRX_WINDOWS)
    # A window program: no console of its own. The stub flags again: the
    # Windows stubs are optimised as a whole when they are linked.
    target_link_options(${target} PRIVATE -mwindows ${CRX_STUB_FLAGS})
  endif()
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CRX_STUB_DIR})
  add_custom_command(OUTPUT ${CRX_STUB_DIR}/${output}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=${target} -DINPUT=$<TARGET_FILE:${target}>
            -DOUTPUT=${CRX_STUB_DIR}/${output} -DSIZE=${size}
            -P ${PROJECT_SOURCE_DIR}/cmake/StubPad.cmake
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/StubPad.cmake
    VERBATIM)
endfunction()

crx_stub_program(CRXdat Cratex.dat ${CRX_FULL_STUB_SIZE})
crx_stub_program(CRXdat_min Cratexm.dat ${CRX_MIN_STUB_SIZE} CRX_MINIMAL_STUB)
# Both padded stubs (part of every build): ninja -C <build> crx_stubs
add_custom_target(crx_stubs ALL DEPENDS ${CRX_STUB_DIR}/Cratex.dat ${CRX_STUB_DIR}/Cratexm.dat)
if(NOT CRX_WINDOWS)
  # The Linux stubs run on the machine library (src/stub/CMakeLists.txt).
  add_dependencies(crx_stubs crx_stub_machine)
endif()
