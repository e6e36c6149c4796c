driftpost_fuzzer(sgi_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SGIFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
