driftpost_benchmark(picture
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PictureBench.cpp
  LIBS driftpost_picture driftpost_platform)
