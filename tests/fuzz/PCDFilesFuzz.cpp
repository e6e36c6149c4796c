// Photo-CD pictures from anywhere: see ReaderFuzzSupport.h.
#include "ReaderFuzzSupport.h"
#include "readers/PCDGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return driftpost::fuzzing::FuzzReader<driftpost::TPCDGraphic>(data, size);
}
