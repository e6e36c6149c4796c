driftpost_fuzzer(mh_decoder
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MHDecoderFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
