driftpost_fuzzer(bitmap_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/BitmapFilesFuzz.cpp
  LIBS driftpost_picture driftpost_platform)
