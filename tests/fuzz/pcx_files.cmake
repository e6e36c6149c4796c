driftpost_fuzzer(pcx_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PCXFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
