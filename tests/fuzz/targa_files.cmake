driftpost_fuzzer(targa_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TargaFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
