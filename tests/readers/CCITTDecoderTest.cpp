#include "readers/CCITTDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace driftpost {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Packs T.4 codes written as '0' and '1' (spaces ignored) into bytes, most significant bit
// first, padding the last byte with zeros.
Bytes Pack(const std::string& bits) {
  Bytes out;
  int used = 8;
  for (char bit : bits) {
    if (bit == ' ') continue;
    if (used == 8) {
      out.push_back(0);
      used = 0;
    }
    if (bit == '1') out.back() |= static_cast<std::uint8_t>(0x80u >> used);
    ++used;
  }
  return out;
}

// Decodes into a destination of exactly `size` bytes that starts out as 0xAA everywhere.
Bytes Decode(TDecoder& decoder, Bytes packed, std::size_t size) {
  Bytes out(size, 0xAA);
  std::uint8_t* source = packed.data();
  std::uint8_t* dest = out.data();
  decoder.Decode(source, dest, static_cast<std::int32_t>(packed.size()), static_cast<std::int32_t>(size), size);
  EXPECT_EQ(source, packed.data());
  EXPECT_EQ(dest, out.data());
  return out;
}

const std::string EOL = "000000000001 ";
// Codes used below: white 0 = 00110101, white 2 = 0111, white 4 = 1011, white 8 = 10011,
// white make-up 1728 = 010011011, black 0 = 0000110111, black 2 = 11, black 4 = 011, black 8
// = 000101, black 16 = 0000010111, shared make-up 2560 = 000000011111.

TEST(CCITTFax3DecoderTest, RowsStartWhiteAndAWhiteRunOfZeroLetsABlackOneBeginTheRow) {
  TCCITTFax3Decoder decoder(0, false, false, 16);
  // Row 1: white 0, black 8, white 8. Row 2: white 4, black 4, white 8.
  const Bytes rows = Decode(decoder, Pack(EOL + "00110101 000101 10011 " + EOL + "1011 011 10011 " + EOL), 4);
  EXPECT_EQ(rows, (Bytes{0xFF, 0x00, 0x0F, 0x00}));
}

TEST(CCITTFax3DecoderTest, MakeUpCodesAddUpAndFillWholeBytes) {
  TCCITTFax3Decoder decoder(0, false, false, 1728);
  // The destination starts as 0xAA: a white row must clear it.
  EXPECT_EQ(Decode(decoder, Pack(EOL + "010011011 00110101" + EOL), 216), Bytes(216, 0));
  TCCITTFax3Decoder wide(0, false, false, 2576);
  const Bytes row = Decode(wide, Pack(EOL + "00110101 000000011111 0000010111 " + EOL), 322);
  EXPECT_EQ(row, Bytes(322, 0xFF));
}

TEST(CCITTFax3DecoderTest, SwappedBitOrderIsReversedInThePackedBufferItself) {
  Bytes packed = Pack(EOL + "1011 011 " + EOL);
  for (std::uint8_t& byte : packed) {
    std::uint8_t reversed = 0;
    for (int bit = 0; bit < 8; ++bit)
      if (byte & (1 << bit)) reversed = static_cast<std::uint8_t>(reversed | 0x80 >> bit);
    byte = reversed;
  }
  TCCITTFax3Decoder decoder(0, true, false, 8);
  std::uint8_t* source = packed.data();
  Bytes out(1);
  std::uint8_t* dest = out.data();
  decoder.Decode(source, dest, static_cast<std::int32_t>(packed.size()), 1, 1);
  EXPECT_EQ(out, Bytes{0x0F});
  EXPECT_EQ(packed, Pack(EOL + "1011 011 " + EOL));
}

TEST(CCITTFax3DecoderTest, ADamagedRowCostsOnlyItself) {
  TCCITTFax3Decoder decoder(0, false, false, 16);
  // Row 1 breaks off after a white 4 (an invalid code follows); rows 2 and 3 stay in place.
  const std::string damaged = EOL + "1011 000000001 " + EOL + "1011 011 10011 " + EOL + "00110101 000101 10011 " + EOL;
  EXPECT_EQ(Decode(decoder, Pack(damaged), 6), (Bytes{0x00, 0x00, 0x0F, 0x00, 0xFF, 0x00}));
  // Empty lines (the six end-of-line codes that end a page) give no rows.
  EXPECT_EQ(Decode(decoder, Pack(EOL + EOL + EOL + "0111 11 1011 0000110111 10011 " + EOL + EOL), 2),
            (Bytes{0x30, 0x00}));
}

TEST(CCITTFax3DecoderTest, RunsLongerThanTheRowAreCutAtItsEnd) {
  TCCITTFax3Decoder decoder(0, false, false, 12);
  // A black run of 2560 + 16 in a row of 12: the row fills and nothing else is written.
  EXPECT_EQ(Decode(decoder, Pack(EOL + "00110101 000000011111 0000010111 " + EOL), 2), (Bytes{0xFF, 0xF0}));
  // The destination holds one and a half rows: the second row is written as far as it goes.
  EXPECT_EQ(Decode(decoder, Pack(EOL + "0111 011 10011 " + EOL + "00110101 000101 1011 " + EOL), 3),
            (Bytes{0x3C, 0x00, 0xFF}));
}

TEST(CCITTMHDecoderTest, EveryRowStartsOnTheNextByteAndTheLastCodeMayEndTheData) {
  TCCITTMHDecoder decoder(0, false, false, 12);
  // Row 1: white 2, black 2, white 8 (11 bits, then 5 bits of padding). Row 2: white 8,
  // black 4, whose code ends exactly at the end of the data.
  const Bytes rows = Decode(decoder, Pack("0111 11 10011 00000 10011 011"), 4);
  EXPECT_EQ(rows, (Bytes{0x30, 0x00, 0x00, 0xF0}));
}

TEST(CCITTMHDecoderTest, WordAlignedRowsStartOnEvenBytesOfThePackedData) {
  TCCITTMHDecoder decoder(0, false, true, 8);
  // Row 1 (white 4, black 4) takes one byte, so row 2 starts at byte 2; row 2 (white 8)
  // takes one byte, so row 3 starts at byte 4.
  const Bytes rows = Decode(decoder, Pack("1011 011 0 11111111 10011 000 11111111 00110101 000101"), 3);
  EXPECT_EQ(rows, (Bytes{0x0F, 0x00, 0xFF}));
}

TEST(CCITTMHDecoderTest, GarbageNeverWritesOutsideTheDestination) {
  // Every byte value as a packed stream: whatever the codes say, rows of 13 pixels stay in
  // a destination of 5 bytes (two rows and a half).
  for (int value = 0; value < 256; ++value) {
    TCCITTMHDecoder mh(0, value & 1, value & 2, 13);
    TCCITTFax3Decoder fax3(0, value & 1, false, 13);
    Decode(mh, Bytes(40, static_cast<std::uint8_t>(value)), 5);
    Decode(fax3, Bytes(40, static_cast<std::uint8_t>(value)), 5);
  }
}

}  // namespace
}  // namespace driftpost
