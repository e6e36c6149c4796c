# libpng decoding the same PNG files as bench_readers, as a yardstick (libpng-dev).
find_package(PNG REQUIRED)
driftpost_benchmark(libpng
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LibpngBench.cpp
  LIBS PNG::PNG)
