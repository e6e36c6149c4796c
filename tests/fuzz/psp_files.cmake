driftpost_fuzzer(psp_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PSPFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
