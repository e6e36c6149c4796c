#include "readers/GraphicCompression.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <optional>
#include <vector>

namespace driftpost {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kFill = 0xEE;
constexpr std::size_t kGuard = 4;

struct Decoded {
  Bytes output;              // the destination's `destSize` bytes
  std::ptrdiff_t consumed;   // how far Source was moved
  std::ptrdiff_t produced;   // how far Dest was moved
};

// Runs one Decode over a heap copy of `packed` and a destination of `destSize` bytes
// followed by guard bytes that must stay untouched.
// `packedSize` defaults to the whole of `packed`.
Decoded Decode(TDecoder& decoder, const Bytes& packed, std::int32_t unpackedSize, std::size_t destSize,
               std::optional<std::int32_t> packedSize = std::nullopt) {
  auto input = std::make_unique<std::uint8_t[]>(packed.size() + 1);
  std::copy(packed.begin(), packed.end(), input.get());
  Bytes buffer(destSize + kGuard, kFill);
  std::uint8_t* source = input.get();
  std::uint8_t* dest = buffer.data();
  decoder.Decode(source, dest, packedSize.value_or(static_cast<std::int32_t>(packed.size())), unpackedSize, destSize);
  for (std::size_t i = destSize; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kFill) << "written past the destination";
  buffer.resize(destSize);
  return {buffer, source - input.get(), dest - buffer.data()};
}

Bytes Filled(Bytes head, std::size_t size) {
  head.resize(size, kFill);
  return head;
}

TEST(GraphicCompressionTest, TargaRunsAndRawPacketsOfWholePixels) {
  TTargaRLEDecoder decoder(24);
  Decoded result = Decode(decoder, {0x82, 0x10, 0x20, 0x30, 0x01, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xFF}, 5, 15);
  EXPECT_EQ(result.output, (Bytes{0x10, 0x20, 0x30, 0x10, 0x20, 0x30, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70,
                                  0x80, 0x90}));
  EXPECT_EQ(result.consumed, 11);
  EXPECT_EQ(result.produced, 0);

  TTargaRLEDecoder bytes(8);
  EXPECT_EQ(Decode(bytes, {0x81, 0x07, 0x00, 0x09}, 3, 3).output, (Bytes{7, 7, 9}));
  TTargaRLEDecoder words(15);
  EXPECT_EQ(Decode(words, {0x81, 0x34, 0x12}, 2, 4).output, (Bytes{0x34, 0x12, 0x34, 0x12}));
  TTargaRLEDecoder quads(32);
  EXPECT_EQ(Decode(quads, {0x80, 1, 2, 3, 4}, 1, 4).output, (Bytes{1, 2, 3, 4}));
}

TEST(GraphicCompressionTest, TargaWithAnUnknownDepthDoesNothing) {
  TTargaRLEDecoder decoder(12);
  Decoded result = Decode(decoder, {0x81, 1, 2, 3}, 2, 8);
  EXPECT_EQ(result.output, Bytes(8, kFill));
  EXPECT_EQ(result.consumed, 0);
}

TEST(GraphicCompressionTest, TargaPacketsThatOverrunTheRowAreCutThereAndCarriedIntoTheNext) {
  // A run of 6 and a raw packet of 4 for a row of 3: each packet is consumed whole.
  TTargaRLEDecoder runs(8), raws(8);
  Decoded run = Decode(runs, {0x85, 0x07, 0x00, 0x09}, 3, 8);
  EXPECT_EQ(run.output, Filled({7, 7, 7}, 8));
  EXPECT_EQ(run.consumed, 2);
  Decoded raw = Decode(raws, {0x03, 1, 2, 3, 4, 0x80, 5}, 3, 8);
  EXPECT_EQ(raw.output, Filled({1, 2, 3}, 8));
  EXPECT_EQ(raw.consumed, 5);
  // What they left over starts the next call, before its own packets.
  EXPECT_EQ(runs.CarriedPixels(), 3u);
  Decoded nextRun = Decode(runs, {0x00, 0x09}, 5, 5);
  EXPECT_EQ(nextRun.output, (Bytes{7, 7, 7, 9, kFill}));
  EXPECT_EQ(nextRun.consumed, 2);
  Decoded nextRaw = Decode(raws, {0x80, 5}, 2, 2);
  EXPECT_EQ(nextRaw.output, (Bytes{4, 5}));
  EXPECT_EQ(raws.CarriedPixels(), 0u);
  // A whole packet can outlast several calls; DecodeInit forgets it.
  TTargaRLEDecoder rows(16);
  EXPECT_EQ(Decode(rows, {0xFF, 0x34, 0x12}, 1, 2).output, (Bytes{0x34, 0x12}));
  EXPECT_EQ(Decode(rows, {}, 2, 4).output, (Bytes{0x34, 0x12, 0x34, 0x12}));
  EXPECT_EQ(rows.CarriedPixels(), 125u);
  rows.DecodeInit();
  EXPECT_EQ(Decode(rows, {}, 2, 4).output, Bytes(4, kFill));
  // The destination is smaller than the pixels wanted; the pixel it has no room for waits.
  TTargaRLEDecoder wide(24);
  EXPECT_EQ(Decode(wide, {0x83, 1, 2, 3}, 4, 7).output, Filled({1, 2, 3, 1, 2, 3}, 7));
  EXPECT_EQ(Decode(wide, {}, 4, 2).output, Bytes(2, kFill));
  EXPECT_EQ(Decode(wide, {}, 4, 12).output, Filled({1, 2, 3, 1, 2, 3}, 12));
}

TEST(GraphicCompressionTest, TargaStopsAtTheEndOfThePackedBytes) {
  TTargaRLEDecoder decoder(24);
  // A raw packet of 4 pixels with only 2 whole pixels left.
  Decoded raw = Decode(decoder, {0x03, 1, 2, 3, 4, 5, 6, 7}, 4, 12);
  EXPECT_EQ(raw.output, Filled({1, 2, 3, 4, 5, 6}, 12));
  EXPECT_EQ(raw.consumed, 7);
  // A run whose pixel is cut off is not consumed.
  Decoded run = Decode(decoder, {0x80, 9, 9, 9, 0x81, 1, 2}, 4, 12);
  EXPECT_EQ(run.output, Filled({9, 9, 9}, 12));
  EXPECT_EQ(run.consumed, 4);
  // The packed size counts, not the bytes behind it.
  EXPECT_EQ(Decode(decoder, {0x80, 9, 9, 9}, 1, 3, 3).output, Bytes(3, kFill));
}

TEST(GraphicCompressionTest, PackBitsPackets) {
  TPackbitsRLEDecoder decoder;
  EXPECT_EQ(Decode(decoder, {0xFE, 0xAA}, 3, 3).output, (Bytes{0xAA, 0xAA, 0xAA}));
  // 0x80 between two packets does nothing.
  EXPECT_EQ(Decode(decoder, {0x01, 1, 2, 0x80, 0xFF, 3}, 4, 4).output, (Bytes{1, 2, 3, 3}));
  // A literal that claims more than the packed bytes hold copies what is there.
  EXPECT_EQ(Decode(decoder, {0x05, 1, 2}, 6, 6).output, Filled({1, 2}, 6));
  EXPECT_EQ(Decode(decoder, {0x05, 1, 2, 3, 4}, 6, 6, 3).output, Filled({1, 2}, 6));
  // Runs and literals are cut to the output wanted and to the destination.
  EXPECT_EQ(Decode(decoder, {0x81, 5, 0x00, 6}, 4, 8).output, Filled({5, 5, 5, 5}, 8));
  EXPECT_EQ(Decode(decoder, {0x03, 1, 2, 3, 4}, 2, 8).output, Filled({1, 2}, 8));
  EXPECT_EQ(Decode(decoder, {0x81, 5}, 100, 3).output, (Bytes{5, 5, 5}));
  // A run header without its byte.
  EXPECT_EQ(Decode(decoder, {0x00, 1, 0xFD}, 4, 4).output, Filled({1}, 4));
  Decoded result = Decode(decoder, {0xFE, 0xAA}, 3, 3);
  EXPECT_EQ(result.consumed, 0);
  EXPECT_EQ(result.produced, 0);
}

TEST(GraphicCompressionTest, PCXPackets) {
  TPCXRLEDecoder decoder;
  EXPECT_EQ(Decode(decoder, {0xC3, 0x55}, 3, 3).output, (Bytes{0x55, 0x55, 0x55}));
  EXPECT_EQ(Decode(decoder, {0x3F}, 1, 1).output, (Bytes{0x3F}));
  EXPECT_EQ(Decode(decoder, {0xC0, 0x12, 0x01}, 2, 2).output, Filled({0x01}, 2));
  // Runs are cut to the output wanted and to the destination; a lone run header ends it.
  EXPECT_EQ(Decode(decoder, {0xFF, 0x01}, 5, 8).output, Filled({1, 1, 1, 1, 1}, 8));
  EXPECT_EQ(Decode(decoder, {0xFF, 0x01}, 63, 4).output, (Bytes{1, 1, 1, 1}));
  EXPECT_EQ(Decode(decoder, {0x07, 0xC5}, 6, 6).output, Filled({7}, 6));
  EXPECT_EQ(Decode(decoder, {0x07, 0x08}, 6, 6, 1).output, Filled({7}, 6));
}

TEST(GraphicCompressionTest, SGIEightBitRowsEndAtTheirTerminator) {
  TSGIRLEDecoder decoder(8);
  EXPECT_EQ(decoder.SampleSize(), 8);
  EXPECT_EQ(Decode(decoder, {0x83, 1, 2, 3, 0x02, 9, 0x00, 0x81, 7}, 0, 8).output, Filled({1, 2, 3, 9, 9}, 8));
  // Without a terminator, the packed size and the destination end the row.
  EXPECT_EQ(Decode(decoder, {0x7F, 4}, 0, 5).output, (Bytes{4, 4, 4, 4, 4}));
  EXPECT_EQ(Decode(decoder, {0x85, 1, 2}, 0, 6).output, Filled({1, 2}, 6));
  EXPECT_EQ(Decode(decoder, {0x85, 1, 2, 3, 4, 5}, 0, 3).output, (Bytes{1, 2, 3}));
  EXPECT_EQ(Decode(decoder, {0x02}, 0, 2).output, Bytes(2, kFill));
}

TEST(GraphicCompressionTest, SGISixteenBitWordsStayBigEndian) {
  TSGIRLEDecoder decoder(16);
  EXPECT_EQ(Decode(decoder, {0x00, 0x82, 0x12, 0x34, 0x56, 0x78, 0x00, 0x03, 0xAB, 0xCD, 0x00, 0x00}, 0, 12).output,
            Filled({0x12, 0x34, 0x56, 0x78, 0xAB, 0xCD, 0xAB, 0xCD, 0xAB, 0xCD}, 12));
  // Only whole words are written: an odd destination keeps its last byte.
  EXPECT_EQ(Decode(decoder, {0x00, 0x05, 0xAB, 0xCD}, 0, 5).output, (Bytes{0xAB, 0xCD, 0xAB, 0xCD, kFill}));
  // A literal cut at the end of the packed bytes copies its whole words.
  EXPECT_EQ(Decode(decoder, {0x00, 0x83, 1, 2, 3}, 0, 6).output, Filled({1, 2}, 6));
  EXPECT_EQ(Decode(decoder, {0x00, 0x03, 1}, 0, 6).output, Bytes(6, kFill));
}

TEST(GraphicCompressionTest, CUTRowsFollowOneAnother) {
  TCUTRLEDecoder decoder;
  Decoded row = Decode(decoder, {0x05, 0x00, 0x82, 0x07, 0x00, 0x99}, 0, 4);
  EXPECT_EQ(row.output, Filled({7, 7}, 4));
  EXPECT_EQ(row.consumed, 5);
  EXPECT_EQ(row.produced, 0);

  // Two rows in one buffer; the first has more packets than its destination takes.
  Bytes buffer = {0x00, 0x00, 0x84, 0x01, 0x02, 0x05, 0x06, 0x00, 0x00, 0x00, 0x02, 0x08, 0x09, 0x00};
  std::uint8_t* source = buffer.data();
  Bytes first(3, kFill), second(3, kFill);
  std::uint8_t* dest = first.data();
  decoder.Decode(source, dest, static_cast<std::int32_t>(buffer.size()), 0, first.size());
  EXPECT_EQ(first, (Bytes{1, 1, 1}));
  ASSERT_EQ(source - buffer.data(), 8);
  dest = second.data();
  decoder.Decode(source, dest, static_cast<std::int32_t>(buffer.data() + buffer.size() - source), 0, second.size());
  EXPECT_EQ(second, (Bytes{8, 9, kFill}));
  EXPECT_EQ(source, buffer.data() + buffer.size());

  // An empty run (0x80) takes its value byte and writes nothing; only 0 ends the row.
  Decoded empty = Decode(decoder, {0x09, 0x00, 0x80, 0x55, 0x81, 0x07, 0x80, 0x00, 0x01, 0x08, 0x00, 0x99}, 0, 4);
  EXPECT_EQ(empty.output, Filled({7, 8}, 4));
  EXPECT_EQ(empty.consumed, 11);

  // A row without its terminator ends with the packed bytes, and Source stops there.
  Decoded open = Decode(decoder, {0x09, 0x00, 0x04, 1, 2}, 0, 8);
  EXPECT_EQ(open.output, Filled({1, 2}, 8));
  EXPECT_EQ(open.consumed, 5);
  EXPECT_EQ(Decode(decoder, {0x09}, 0, 2).consumed, 1);
}

TEST(GraphicCompressionTest, PaintShopProPackets) {
  TPSPRLEDecoder decoder;
  EXPECT_EQ(Decode(decoder, {0x83, 0x11, 0x02, 0xAA, 0xBB, 0x80, 0x05}, 0, 6).output,
            Filled({0x11, 0x11, 0x11, 0xAA, 0xBB}, 6));
  EXPECT_EQ(Decode(decoder, {0x83, 0x11, 0x02, 0xAA, 0xBB}, 0, 6, 4).output, Filled({0x11, 0x11, 0x11, 0xAA}, 6));
  EXPECT_EQ(Decode(decoder, {0xFF, 0x11}, 0, 5).output, Bytes(5, 0x11));
  EXPECT_EQ(Decode(decoder, {0x01, 0x22, 0x90}, 0, 3).output, Filled({0x22}, 3));
}

TEST(GraphicCompressionTest, RLAPackets) {
  TRLADecoder decoder;
  EXPECT_EQ(Decode(decoder, {0xFD, 1, 2, 3, 0x01, 0x44}, 0, 5).output, (Bytes{1, 2, 3, 0x44, 0x44}));
  EXPECT_EQ(Decode(decoder, {0xFD, 1, 2, 3, 0x01, 0x44}, 0, 6, 5).output, Filled({1, 2, 3}, 6));
  EXPECT_EQ(Decode(decoder, {0x80, 1, 2}, 0, 4).output, Filled({1, 2}, 4));
  EXPECT_EQ(Decode(decoder, {0x7F, 6}, 0, 10).output, Bytes(10, 6));
}

TEST(GraphicCompressionTest, EmptyAndNegativeSizesTouchNothing) {
  std::vector<std::unique_ptr<TDecoder>> decoders;
  decoders.push_back(std::make_unique<TTargaRLEDecoder>(8));
  decoders.push_back(std::make_unique<TPackbitsRLEDecoder>());
  decoders.push_back(std::make_unique<TPCXRLEDecoder>());
  decoders.push_back(std::make_unique<TSGIRLEDecoder>(8));
  decoders.push_back(std::make_unique<TSGIRLEDecoder>(16));
  decoders.push_back(std::make_unique<TCUTRLEDecoder>());
  decoders.push_back(std::make_unique<TPSPRLEDecoder>());
  decoders.push_back(std::make_unique<TRLADecoder>());
  for (auto& decoder : decoders) {
    decoder->DecodeInit();
    EXPECT_EQ(Decode(*decoder, {0x01, 0x02, 0x03, 0x04}, 4, 4, -5).output, Bytes(4, kFill));
    EXPECT_EQ(Decode(*decoder, {0x01, 0x02, 0x03, 0x04}, -1, 0).output, Bytes());
    decoder->DecodeEnd();
    std::uint32_t stored = 99;
    decoder->Encode(nullptr, nullptr, 10, stored);
    EXPECT_EQ(stored, 0u);
  }
}

Bytes Deflated(const Bytes& plain) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  Bytes packed(size);
  EXPECT_EQ(compress(packed.data(), &size, plain.data(), static_cast<uLong>(plain.size())), Z_OK);
  packed.resize(size);
  return packed;
}

TEST(LZ77DecoderTest, ContinuesOneStreamOverCallsAndStopsAtItsEnd) {
  Bytes plain(1000);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 7 / 3);
  const Bytes packed = Deflated(plain);
  TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
  decoder.DecodeInit();
  Bytes out;
  std::uint8_t* source = const_cast<std::uint8_t*>(packed.data());
  const std::uint8_t* end = packed.data() + packed.size();
  // Rows of 100 bytes from input handed over 50 bytes at a time, as a chunked file gives it.
  Bytes row(100);
  while (decoder.LastResult() == Z_OK && out.size() < 2000) {
    std::uint8_t* dest = row.data();
    decoder.Decode(source, dest, static_cast<std::int32_t>(std::min<std::ptrdiff_t>(50, end - source)), 100, row.size());
    out.insert(out.end(), row.data(), dest);
  }
  EXPECT_EQ(decoder.LastResult(), Z_STREAM_END);
  EXPECT_EQ(out, plain);
  // A bomb cannot overfill: the destination bounds the output whatever unpackedSize says.
  decoder.DecodeInit();
  source = const_cast<std::uint8_t*>(packed.data());
  const Decoded capped = Decode(decoder, packed, 100000, 10);
  EXPECT_EQ(capped.produced, 10);
  decoder.DecodeEnd();
}

TEST(LZ77DecoderTest, AutomaticResetInflatesEachBufferOnItsOwnAndDamageStops) {
  const Bytes first = Deflated(Bytes(64, 1)), second = Deflated(Bytes(64, 2));
  TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
  decoder.DecodeInit();
  EXPECT_EQ(Decode(decoder, first, 64, 64).output, Bytes(64, 1));
  EXPECT_EQ(decoder.LastResult(), Z_STREAM_END);
  EXPECT_EQ(Decode(decoder, second, 64, 64).output, Bytes(64, 2));
  const Decoded damaged = Decode(decoder, Bytes{0x78, 0x9C, 0xFF, 0xFF, 0xFF}, 64, 64);
  EXPECT_LT(decoder.LastResult(), 0);
  EXPECT_EQ(damaged.produced, 0);
  decoder.DecodeEnd();
}


}  // namespace
}  // namespace driftpost
