driftpost_fuzzer(hand_overs
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HandOversFuzz.cpp
  LIBS driftpost_appcore driftpost_container driftpost_picture driftpost_platform)
