# The PNG reader and libpng decoding the same PNG files, as a yardstick (libpng-dev).
find_package(PNG REQUIRED)
driftpost_benchmark(libpng
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LibpngBench.cpp
  LIBS driftpost_readers driftpost_picture driftpost_platform PNG::PNG)
