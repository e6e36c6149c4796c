#include "readers/CCITTDecoder.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace driftpost {
namespace {

struct TCode {
  const char* Bits;  // most significant bit first
  std::int32_t Value;
};

// ITU-T T.4 modified Huffman codes: terminating codes for runs of 0 to 63, make-up codes for
// multiples of 64. Together with the shared codes below each table is a complete prefix
// code, so every bit sequence decodes to something.
constexpr TCode WhiteCodes[] = {
    {"00110101", 0},      {"000111", 1},        {"0111", 2},          {"1000", 3},          {"1011", 4},
    {"1100", 5},          {"1110", 6},          {"1111", 7},          {"10011", 8},         {"10100", 9},
    {"00111", 10},        {"01000", 11},        {"001000", 12},       {"000011", 13},       {"110100", 14},
    {"110101", 15},       {"101010", 16},       {"101011", 17},       {"0100111", 18},      {"0001100", 19},
    {"0001000", 20},      {"0010111", 21},      {"0000011", 22},      {"0000100", 23},      {"0101000", 24},
    {"0101011", 25},      {"0010011", 26},      {"0100100", 27},      {"0011000", 28},      {"00000010", 29},
    {"00000011", 30},     {"00011010", 31},     {"00011011", 32},     {"00010010", 33},     {"00010011", 34},
    {"00010100", 35},     {"00010101", 36},     {"00010110", 37},     {"00010111", 38},     {"00101000", 39},
    {"00101001", 40},     {"00101010", 41},     {"00101011", 42},     {"00101100", 43},     {"00101101", 44},
    {"00000100", 45},     {"00000101", 46},     {"00001010", 47},     {"00001011", 48},     {"01010010", 49},
    {"01010011", 50},     {"01010100", 51},     {"01010101", 52},     {"00100100", 53},     {"00100101", 54},
    {"01011000", 55},     {"01011001", 56},     {"01011010", 57},     {"01011011", 58},     {"01001010", 59},
    {"01001011", 60},     {"00110010", 61},     {"00110011", 62},     {"00110100", 63},     {"11011", 64},
    {"10010", 128},       {"010111", 192},      {"0110111", 256},     {"00110110", 320},    {"00110111", 384},
    {"01100100", 448},    {"01100101", 512},    {"01101000", 576},    {"01100111", 640},    {"011001100", 704},
    {"011001101", 768},   {"011010010", 832},   {"011010011", 896},   {"011010100", 960},   {"011010101", 1024},
    {"011010110", 1088},  {"011010111", 1152},  {"011011000", 1216},  {"011011001", 1280},  {"011011010", 1344},
    {"011011011", 1408},  {"010011000", 1472},  {"010011001", 1536},  {"010011010", 1600},  {"011000", 1664},
    {"010011011", 1728},
};

constexpr TCode BlackCodes[] = {
    {"0000110111", 0},     {"010", 1},            {"11", 2},             {"10", 3},
    {"011", 4},            {"0011", 5},           {"0010", 6},           {"00011", 7},
    {"000101", 8},         {"000100", 9},         {"0000100", 10},       {"0000101", 11},
    {"0000111", 12},       {"00000100", 13},      {"00000111", 14},      {"000011000", 15},
    {"0000010111", 16},    {"0000011000", 17},    {"0000001000", 18},    {"00001100111", 19},
    {"00001101000", 20},   {"00001101100", 21},   {"00000110111", 22},   {"00000101000", 23},
    {"00000010111", 24},   {"00000011000", 25},   {"000011001010", 26},  {"000011001011", 27},
    {"000011001100", 28},  {"000011001101", 29},  {"000001101000", 30},  {"000001101001", 31},
    {"000001101010", 32},  {"000001101011", 33},  {"000011010010", 34},  {"000011010011", 35},
    {"000011010100", 36},  {"000011010101", 37},  {"000011010110", 38},  {"000011010111", 39},
    {"000001101100", 40},  {"000001101101", 41},  {"000011011010", 42},  {"000011011011", 43},
    {"000001010100", 44},  {"000001010101", 45},  {"000001010110", 46},  {"000001010111", 47},
    {"000001100100", 48},  {"000001100101", 49},  {"000001010010", 50},  {"000001010011", 51},
    {"000000100100", 52},  {"000000110111", 53},  {"000000111000", 54},  {"000000100111", 55},
    {"000000101000", 56},  {"000001011000", 57},  {"000001011001", 58},  {"000000101011", 59},
    {"000000101100", 60},  {"000001011010", 61},  {"000001100110", 62},  {"000001100111", 63},
    {"0000001111", 64},    {"000011001000", 128}, {"000011001001", 192}, {"000001011011", 256},
    {"000000110011", 320}, {"000000110100", 384}, {"000000110101", 448}, {"0000001101100", 512},
    {"0000001101101", 576}, {"0000001001010", 640}, {"0000001001011", 704}, {"0000001001100", 768},
    {"0000001001101", 832}, {"0000001110010", 896}, {"0000001110011", 960}, {"0000001110100", 1024},
    {"0000001110101", 1088}, {"0000001110110", 1152}, {"0000001110111", 1216}, {"0000001010010", 1280},
    {"0000001010011", 1344}, {"0000001010100", 1408}, {"0000001010101", 1472}, {"0000001011010", 1536},
    {"0000001011011", 1600}, {"0000001100100", 1664}, {"0000001100101", 1728},
};

// The extended make-up codes (runs of 1792 to 2560) and the end of line are the same for
// both colours; the remaining patterns of eight leading zeros are no code at all.
constexpr TCode SharedCodes[] = {
    {"00000001000", 1792},  {"00000001100", 1856},  {"00000001101", 1920},
    {"000000010010", 1984}, {"000000010011", 2048}, {"000000010100", 2112},
    {"000000010101", 2176}, {"000000010110", 2240}, {"000000010111", 2304},
    {"000000011100", 2368}, {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560}, {"000000000001", TCCITTDecoder::EndOfLine},
    {"000000001", TCCITTDecoder::InvalidCode},      {"0000000001", TCCITTDecoder::InvalidCode},
    {"00000000001", TCCITTDecoder::InvalidCode},    {"000000000000", TCCITTDecoder::InvalidCode},
};

void Insert(std::vector<TCCITTDecoder::TCodeNode>& tree, const TCode& code) {
  std::uint32_t node = 0;
  for (const char* bit = code.Bits; *bit; ++bit) {
    const int branch = *bit - '0';
    if (tree[node].Child[branch] == 0) {
      tree[node].Child[branch] = static_cast<std::uint32_t>(tree.size());
      tree.emplace_back();
    }
    node = tree[node].Child[branch];
  }
  tree[node].Value = code.Value;
}

template <std::size_t N>
std::vector<TCCITTDecoder::TCodeNode> BuildTree(const TCode (&codes)[N]) {
  std::vector<TCCITTDecoder::TCodeNode> tree(1);
  for (const TCode& code : codes) Insert(tree, code);
  for (const TCode& code : SharedCodes) Insert(tree, code);
  return tree;
}

std::uint8_t ReversedBits(std::uint8_t byte) {
  byte = static_cast<std::uint8_t>((byte & 0xF0) >> 4 | (byte & 0x0F) << 4);
  byte = static_cast<std::uint8_t>((byte & 0xCC) >> 2 | (byte & 0x33) << 2);
  return static_cast<std::uint8_t>((byte & 0xAA) >> 1 | (byte & 0x55) << 1);
}

std::size_t SizeOf(std::int32_t size) { return size > 0 ? static_cast<std::size_t>(size) : 0; }

}  // namespace

// Reads the packed bits most significant first and writes runs into rows of the output.
// Invariants: `at_` <= `end_`; the current byte has `bitsLeft_` unread bits, selected by
// `mask_`; every write lands inside the `size_` bytes at `out_`.
class TCCITTDecoder::TRun {
 public:
  TRun(const std::uint8_t* source, std::size_t packedSize, std::uint8_t* out, std::size_t size, std::uint32_t width)
      : start_(source), at_(source), end_(source + packedSize), out_(out), size_(size), width_(width),
        rowBytes_((std::size_t{width} + 7) / 8) {}

  // No bit left to read.
  bool Exhausted() const { return bitsLeft_ == 0 && at_ == end_; }
  // No row left to write.
  bool Full() const { return row_ >= size_; }

  // The next bit; 0 once the data is used up.
  int ReadBit() {
    if (bitsLeft_ == 0) {
      if (at_ == end_) return 0;
      byte_ = *at_++;
      mask_ = 0x80;
      bitsLeft_ = 8;
    }
    const int bit = (byte_ & mask_) != 0;
    mask_ >>= 1;
    --bitsLeft_;
    return bit;
  }

  // Rows start on a byte boundary (and, word aligned, on an even byte of the packed data).
  void AlignRowStart(bool wordAligned) {
    bitsLeft_ = 0;
    if (wordAligned && (at_ - start_) % 2 != 0 && at_ != end_) ++at_;
  }

  // Reads up to and including the 1 bit that ends the next end-of-line code: at least 11
  // zero bits, then any fill bits before the 1.
  void SkipToEndOfLine() {
    int zeros = 0;
    while (zeros < 11 && !Exhausted()) zeros = ReadBit() ? 0 : zeros + 1;
    while (!Exhausted() && !ReadBit()) {
    }
  }

  // The next run length (make-up codes added to the terminating code that follows them),
  // EndOfLine or InvalidCode. A code cut off by the end of the data counts as what it had
  // reached: the make-up codes before it, or 0.
  std::int32_t FindRun(const std::vector<TCodeNode>& tree) {
    std::int64_t sum = 0;
    std::uint32_t node = 0;
    while (!Exhausted()) {
      node = tree[node].Child[ReadBit()];
      const TCodeNode& reached = tree[node];
      if (node == 0) break;
      if (reached.Child[0] || reached.Child[1]) continue;
      if (reached.Value < 0) return reached.Value;
      sum += reached.Value;
      if (reached.Value < 64) break;
      node = 0;
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(sum, std::numeric_limits<std::int32_t>::max()));
  }

  // Writes a run of `length` pixels, cut at the row's end; true when the row is complete.
  bool WriteRun(std::uint32_t length, bool black) {
    length = std::min(length, width_ - column_);
    if (black) SetBits(column_, length);
    column_ += length;
    return column_ == width_;
  }

  // The next row starts after this one, unless this one got no pixel at all (the lines
  // between end-of-line codes that carry no row, as at the end of a page).
  void EndRow() {
    if (column_ > 0) row_ += rowBytes_;
    column_ = 0;
  }

 private:
  // Sets `count` bits of the current row from bit `first` on.
  void SetBits(std::uint32_t first, std::uint32_t count) {
    if (count == 0) return;
    std::size_t bit = row_ * 8 + first;
    const std::size_t end = std::min(bit + count, size_ * 8);
    if (bit >= end) return;
    while (bit < end && bit % 8 != 0) {
      out_[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
      ++bit;
    }
    if (end - bit >= 8) {
      std::memset(out_ + bit / 8, 0xFF, (end - bit) / 8);
      bit += (end - bit) / 8 * 8;
    }
    for (; bit < end; ++bit) out_[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
  }

  const std::uint8_t* start_;
  const std::uint8_t* at_;
  const std::uint8_t* end_;
  std::uint8_t byte_ = 0;
  std::uint8_t mask_ = 0;
  int bitsLeft_ = 0;
  std::uint8_t* out_;
  std::size_t size_;
  std::uint32_t width_;
  std::size_t rowBytes_;
  std::size_t row_ = 0;         // offset of the current row in the output
  std::uint32_t column_ = 0;    // pixels of the current row written so far
};

TCCITTDecoder::TCCITTDecoder(std::uint32_t options, bool swapBits, bool wordAligned, std::uint32_t width)
    : options_(options), swapBits_(swapBits), wordAligned_(wordAligned), width_(width),
      whiteTree_(BuildTree(WhiteCodes)), blackTree_(BuildTree(BlackCodes)) {}

namespace {

std::size_t Prepare(std::uint8_t* source, std::int32_t packedSize, std::uint8_t* dest, std::int32_t unpackedSize,
                    std::size_t destSize, bool swapBits) {
  const std::size_t size = std::min(SizeOf(unpackedSize), destSize);
  if (size) std::memset(dest, 0, size);
  if (swapBits)
    for (std::size_t i = 0; i < SizeOf(packedSize); ++i) source[i] = ReversedBits(source[i]);
  return size;
}

}  // namespace

void TCCITTFax3Decoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize,
                               std::int32_t unpackedSize, std::size_t destSize) {
  const std::size_t size = Prepare(source, packedSize, dest, unpackedSize, destSize, swapBits_);
  TRun run(source, SizeOf(packedSize), dest, size, width_);
  bool endOfLineRead = false;
  while (!run.Exhausted() && !run.Full()) {
    if (!endOfLineRead) run.SkipToEndOfLine();
    endOfLineRead = false;
    bool black = false;
    while (!run.Exhausted()) {
      const std::int32_t code = run.FindRun(black ? blackTree_ : whiteTree_);
      if (code < 0) {
        endOfLineRead = code == EndOfLine;
        break;
      }
      if (run.WriteRun(static_cast<std::uint32_t>(code), black)) break;
      black = !black;
    }
    run.EndRow();
  }
}

void TCCITTMHDecoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize,
                             std::int32_t unpackedSize, std::size_t destSize) {
  const std::size_t size = Prepare(source, packedSize, dest, unpackedSize, destSize, swapBits_);
  TRun run(source, SizeOf(packedSize), dest, size, width_);
  bool black = false;
  while (!run.Exhausted() && !run.Full()) {
    const std::int32_t code = run.FindRun(black ? blackTree_ : whiteTree_);
    if (code > 0 && run.WriteRun(static_cast<std::uint32_t>(code), black)) {
      run.EndRow();
      run.AlignRowStart(wordAligned_);
      black = false;
    } else {
      black = !black;
    }
  }
}

}  // namespace driftpost
