driftpost_fuzzer(thunder_decoder
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ThunderDecoderFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
