driftpost_fuzzer(jpeg_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/JpegFilesFuzz.cpp
  LIBS driftpost_picture driftpost_platform)
