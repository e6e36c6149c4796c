// Shared by the fax decompressor fuzz targets: packed rows straight from picture files. Both
// buffers are allocated at exactly their sizes, so a stray access hits the sanitizers; a
// decompressor that moves either pointer aborts.
//
// Input: flags (bit 0 swapped bit order, bit 1 word alignment), a 12-bit row width and a
// 12-bit destination size (big-endian, three bytes); the rest is the packed data.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "readers/CCITTDecoder.h"

namespace driftpost::fuzzing {

template <class Decoder>
int FuzzFaxDecoder(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint32_t width = static_cast<std::uint32_t>(data[1] << 4 | data[2] >> 4);
  const std::size_t destSize = static_cast<std::size_t>((data[2] & 0x0F) << 8 | data[3]);
  Decoder decoder(0, data[0] & 1, data[0] & 2, width);
  std::vector<std::uint8_t> packed(data + 4, data + size);
  std::vector<std::uint8_t> output(destSize);
  std::uint8_t* source = packed.data();
  std::uint8_t* dest = output.data();
  decoder.DecodeInit();
  decoder.Decode(source, dest, static_cast<std::int32_t>(packed.size()), static_cast<std::int32_t>(destSize),
                 destSize);
  decoder.DecodeEnd();
  if (source != packed.data() || dest != output.data()) std::abort();
  return 0;
}

}  // namespace driftpost::fuzzing
