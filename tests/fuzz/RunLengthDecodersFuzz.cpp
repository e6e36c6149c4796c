// Packed rows come straight from picture files: whatever counts their packets claim, no
// run-length decompressor may read past the packed bytes or write past the destination.
// Both buffers are allocated at exactly their sizes, so a stray access hits the sanitizers;
// a decompressor that moves a pointer it must leave, or moves Source past the packed bytes,
// aborts.
//
// The decompressors that advance Source (Targa, CUT) are called again on what is left, row
// after row as their readers call them, so that the pixels a Targa packet carries into the
// next call are fuzzed too.
//
// Input: the decompressor (first byte, modulo 8: Targa, PackBits, PCX, SGI 8-bit, SGI
// 16-bit, CUT, PSP, RLA), the Targa colour depth, a signed 16-bit unpacked size (big
// endian), a 12-bit destination size; the rest is the packed data.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "readers/GraphicCompression.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  using namespace driftpost;
  static const std::uint32_t targaDepths[] = {8, 15, 16, 24, 32, 0, 7, 33};
  std::unique_ptr<TDecoder> decoder;
  bool advancesSource = false;
  switch (data[0] % 8) {
    case 0:
      decoder = std::make_unique<TTargaRLEDecoder>(targaDepths[data[1] % 8]);
      advancesSource = true;
      break;
    case 1:
      decoder = std::make_unique<TPackbitsRLEDecoder>();
      break;
    case 2:
      decoder = std::make_unique<TPCXRLEDecoder>();
      break;
    case 3:
      decoder = std::make_unique<TSGIRLEDecoder>(8);
      break;
    case 4:
      decoder = std::make_unique<TSGIRLEDecoder>(16);
      break;
    case 5:
      decoder = std::make_unique<TCUTRLEDecoder>();
      advancesSource = true;
      break;
    case 6:
      decoder = std::make_unique<TPSPRLEDecoder>();
      break;
    default:
      decoder = std::make_unique<TRLADecoder>();
      break;
  }
  const auto unpackedSize = static_cast<std::int16_t>(data[2] << 8 | data[3]);
  const std::size_t destSize = (data[4] << 8 | data[5]) & 0x0FFF;

  const std::size_t packedSize = size - 6;
  std::vector<std::uint8_t> packed(data + 6, data + size);
  std::vector<std::uint8_t> output(destSize);
  std::uint8_t* source = packed.data();
  decoder->DecodeInit();
  for (int row = 0; row < (advancesSource ? 4 : 1); ++row) {
    std::uint8_t* const start = source;
    std::uint8_t* dest = output.data();
    const auto left = static_cast<std::int32_t>(packed.data() + packedSize - source);
    decoder->Decode(source, dest, left, unpackedSize, destSize);
    if (dest != output.data()) std::abort();
    if (advancesSource ? source < start || source > packed.data() + packedSize : source != start) std::abort();
  }
  decoder->DecodeEnd();
  return 0;
}
