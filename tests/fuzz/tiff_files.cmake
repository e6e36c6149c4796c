driftpost_fuzzer(tiff_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TIFFFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
