driftpost_fuzzer(color_manager
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ColorManagerFuzz.cpp
  LIBS driftpost_picture driftpost_platform)
