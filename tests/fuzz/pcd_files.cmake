driftpost_fuzzer(pcd_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PCDFilesFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
