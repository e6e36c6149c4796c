driftpost_fuzzer(tiff_jpeg_decoder
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TIFFJPEGDecoderFuzz.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform)
