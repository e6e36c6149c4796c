driftpost_benchmark(color_manager
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ColorManagerBench.cpp
  LIBS driftpost_picture driftpost_platform)
