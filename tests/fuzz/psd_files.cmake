driftpost_fuzzer(psd_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PSDFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
