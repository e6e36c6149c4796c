driftpost_fuzzer(rla_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RLAFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
