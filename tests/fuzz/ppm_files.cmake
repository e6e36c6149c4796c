driftpost_fuzzer(ppm_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PPMFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
