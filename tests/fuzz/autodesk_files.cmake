driftpost_fuzzer(autodesk_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/AutodeskFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
