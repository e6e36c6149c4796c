driftpost_fuzzer(fax3_decoder
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/Fax3DecoderFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
