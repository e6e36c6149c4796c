driftpost_benchmark(metafile
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MetafileBench.cpp
  LIBS driftpost_picture driftpost_platform)
