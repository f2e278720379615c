# Pads a linked self-extractor stub with zero bytes to its exact size.
#
#   cmake -DPROGRAM=name -DINPUT=linked-file -DOUTPUT=padded-file -DSIZE=bytes
#         -P StubPad.cmake
#
# The builder appends archives at the stub's size, and the stub looks for
# its archive there, so the padded file must be exactly SIZE bytes long.
# Loaders ignore data after the image, so trailing zeros are harmless. A
# program that links larger than SIZE cannot be used: that is an error.
foreach(var PROGRAM INPUT OUTPUT SIZE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "StubPad.cmake: ${var} is not given")
  endif()
endforeach()

file(SIZE "${INPUT}" linked)
if(linked GREATER SIZE)
  math(EXPR over "${linked} - ${SIZE}")
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR
    "stub ${PROGRAM} is too large: ${linked} bytes linked, its limit is ${SIZE} bytes "
    "(${over} bytes over). See ${PROGRAM}.map beside it for what takes the space.")
endif()

file(COPY_FILE "${INPUT}" "${OUTPUT}")
# Append the zeros: truncate(1) extends a file with zero bytes; dd is the
# fallback where truncate is missing.
find_program(CRX_TRUNCATE truncate)
if(CRX_TRUNCATE)
  execute_process(COMMAND ${CRX_TRUNCATE} -s ${SIZE} "${OUTPUT}" RESULT_VARIABLE rc)
else()
  execute_process(COMMAND dd if=/dev/null of=${OUTPUT} bs=1 seek=${SIZE}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
endif()
file(SIZE "${OUTPUT}" padded)
if(NOT rc EQUAL 0 OR NOT padded EQUAL SIZE)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "stub ${PROGRAM}: padding ${OUTPUT} to ${SIZE} bytes failed")
endif()
message(STATUS "stub ${PROGRAM}: ${linked} bytes linked, padded to ${SIZE} bytes")
