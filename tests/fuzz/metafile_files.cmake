driftpost_fuzzer(metafile_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MetafileFilesFuzz.cpp ${PROJECT_SOURCE_DIR}/tests/LeakSuppressions.cpp
  LIBS driftpost_picture driftpost_platform)
