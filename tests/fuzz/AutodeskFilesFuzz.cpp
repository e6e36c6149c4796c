// Autodesk pictures from anywhere: see ReaderFuzzSupport.h.
#include "ReaderFuzzSupport.h"
#include "readers/AutodeskGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return driftpost::fuzzing::FuzzReader<driftpost::TAutodeskGraphic>(data, size);
}
