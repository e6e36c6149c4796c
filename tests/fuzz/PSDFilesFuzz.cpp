// Photoshop pictures from anywhere: see ReaderFuzzSupport.h.
#include "ReaderFuzzSupport.h"
#include "readers/PSDGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return driftpost::fuzzing::FuzzReader<driftpost::TPSDGraphic>(data, size);
}
