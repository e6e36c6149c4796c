driftpost_fuzzer(eps_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/EPSFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
