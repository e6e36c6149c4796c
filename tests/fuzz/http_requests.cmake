driftpost_fuzzer(http_requests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HttpRequestsFuzz.cpp
  LIBS driftpost_http driftpost_net driftpost_platform)
