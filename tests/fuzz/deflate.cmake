driftpost_fuzzer(deflate
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/DeflateFuzz.cpp
  LIBS driftpost_readers driftpost_platform ZLIB::ZLIB)
