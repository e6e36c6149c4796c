// PNG pictures from anywhere: see ReaderFuzzSupport.h. Every chunk's CRC is made right
// before the bytes are loaded, so that changed bytes reach the chunks and rows behind the
// check instead of stopping there (the reader tests cover the check itself).
#include <zlib.h>

#include <vector>

#include "ReaderFuzzSupport.h"
#include "picture/ByteOrder.h"
#include "readers/PNGGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  for (std::size_t at = 8; at + 12 <= bytes.size();) {
    const std::uint32_t length = driftpost::LoadBE32(&bytes[at]);
    if (length > bytes.size() - at - 12) break;
    const auto crc = static_cast<std::uint32_t>(crc32(0, &bytes[at + 4], length + 4));
    for (int i = 0; i < 4; ++i) bytes[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    at += 12 + std::size_t{length};
  }
  return driftpost::fuzzing::FuzzReader<driftpost::TPNGGraphic>(bytes.data(), bytes.size());
}
