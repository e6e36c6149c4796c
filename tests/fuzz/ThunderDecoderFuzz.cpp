// ThunderScan rows from anywhere: whatever the codes say, nothing is read past the packed
// bytes or written past the destination (both allocated at exactly their sizes), and
// neither pointer moves.
//
// Input: a 12-bit row width and a 12-bit destination size (big-endian, three bytes); the
// rest is the packed data.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "readers/ThunderDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint32_t width = static_cast<std::uint32_t>(data[0] << 4 | data[1] >> 4);
  const std::size_t destSize = static_cast<std::size_t>((data[1] & 0x0F) << 8 | data[2]);
  driftpost::TThunderDecoder decoder(width);
  std::vector<std::uint8_t> packed(data + 3, data + size);
  std::vector<std::uint8_t> output(destSize);
  std::uint8_t* source = packed.data();
  std::uint8_t* dest = output.data();
  decoder.Decode(source, dest, static_cast<std::int32_t>(packed.size()), static_cast<std::int32_t>(destSize),
                 destSize);
  if (source != packed.data() || dest != output.data()) std::abort();
  return 0;
}
