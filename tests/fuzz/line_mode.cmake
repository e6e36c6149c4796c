driftpost_fuzzer(line_mode
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LineModeFuzz.cpp
  LIBS driftpost_net driftpost_platform)
