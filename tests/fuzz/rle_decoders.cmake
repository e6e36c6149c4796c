driftpost_fuzzer(rle_decoders
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RunLengthDecodersFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
