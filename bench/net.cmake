driftpost_benchmark(net
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SocketBench.cpp
  LIBS driftpost_net driftpost_platform)
