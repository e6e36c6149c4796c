driftpost_benchmark(readers
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ReadersBench.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
