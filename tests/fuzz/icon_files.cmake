driftpost_fuzzer(icon_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/IconFilesFuzz.cpp
  LIBS driftpost_picture driftpost_platform)
