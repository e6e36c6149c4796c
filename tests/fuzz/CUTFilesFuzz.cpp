// Dr. Halo pictures and palette files from anywhere: the bytes are read once as a palette
// file and once as a picture (see ReaderFuzzSupport.h).
#include "ReaderFuzzSupport.h"
#include "readers/CUTGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace driftpost;
  TMemoryStream palette;
  fuzzing::FillStream(palette, data, size);
  try {
    ReadCUTPalette(palette);
  } catch (const Exception&) {
  }
  return fuzzing::FuzzReader<TCUTGraphic>(data, size);
}
