driftpost_fuzzer(cut_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CUTFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
