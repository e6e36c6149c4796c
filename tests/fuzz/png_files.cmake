driftpost_fuzzer(png_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PNGFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform ZLIB::ZLIB)
