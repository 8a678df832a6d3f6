# cmake -DFILE=<path> -DLIMIT=<bytes> -P CheckFileSize.cmake
# Fails when the file is larger than LIMIT bytes.
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${FILE} is ${size} bytes, more than the ${LIMIT} allowed")
endif()
message(STATUS "${FILE}: ${size} bytes (at most ${LIMIT})")
