driftpost_fuzzer(uri_lists
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/UriListsFuzz.cpp ${PROJECT_SOURCE_DIR}/src/container/gui/UriList.cpp
  LIBS driftpost_platform)
