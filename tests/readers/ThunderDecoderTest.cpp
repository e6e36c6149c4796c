#include "readers/ThunderDecoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace driftpost {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Decodes into a destination of exactly `size` bytes, filled with 0xEE beforehand.
Bytes Decode(std::uint32_t width, Bytes packed, std::size_t size) {
  TThunderDecoder decoder(width);
  Bytes out(size, 0xEE);
  std::uint8_t* source = packed.data();
  std::uint8_t* dest = out.data();
  decoder.Decode(source, dest, static_cast<std::int32_t>(packed.size()), static_cast<std::int32_t>(size), size);
  return out;
}

TEST(ThunderDecoderTest, RawPixelsDifferencesAndRunsBuildTheRow) {
  // Raw 5, then two-bit differences 0, 0, +1.
  EXPECT_EQ(Decode(4, {0xC5, 0x41}, 2), (Bytes{0x55, 0x56}));
  // Raw 3 and a run of three more; three-bit differences +3 and -3 after a raw 8.
  EXPECT_EQ(Decode(4, {0xC3, 0x03}, 2), (Bytes{0x33, 0x33}));
  EXPECT_EQ(Decode(3, {0xC8, 0x80 | 3 << 3 | 5}, 2), (Bytes{0x8B, 0x80}));
  // The skip codes (2 among the two-bit, 4 among the three-bit differences) emit nothing.
  EXPECT_EQ(Decode(4, {0xC1, 0x40 | 2 << 4 | 1 << 2 | 2, 0x80 | 4 << 3 | 1, 0xC9}, 2), (Bytes{0x12, 0x39}));
  // Differences wrap around the four bits.
  EXPECT_EQ(Decode(2, {0xCF, 0x40 | 1 << 4 | 1 << 2 | 1}, 1), (Bytes{0xF0}));
}

TEST(ThunderDecoderTest, EachRowStartsAfreshAndRunsStopAtItsEnd) {
  // Width 3: a run of 63 fills the row only; the second row's run repeats pixel 0.
  EXPECT_EQ(Decode(3, {0xC1, 0x3F, 0x03}, 4), (Bytes{0x11, 0x10, 0x00, 0x00}));
  // A destination of one and a half rows takes what fits of the second.
  EXPECT_EQ(Decode(4, {0xC1, 0x03, 0xC2, 0x03}, 3), (Bytes{0x11, 0x11, 0x22}));
  // Data that ends early leaves the rest as it was.
  EXPECT_EQ(Decode(4, {0xC1}, 2), (Bytes{0x10, 0xEE}));
}

}  // namespace
}  // namespace driftpost
