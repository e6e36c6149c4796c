// Helpers shared by the reader tests: loading a reader from bytes or from a fixture, and
// comparing a fixture's decoded pixels with the independent tool's decode kept beside it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/PictureTestSupport.h"
#include "platform/Stream.h"

namespace driftpost::testing {

// Loads `bytes` through `reader`: "loaded", or the message of the exception it raised.
inline std::string LoadBytes(TGraphic& reader, const std::string& bytes) {
  TMemoryStream stream;
  stream.WriteText(bytes);
  stream.SetPosition(0);
  try {
    reader.LoadStream(stream);
    return "loaded";
  } catch (const Exception& error) {
    return error.Message();
  }
}

// A fixture under tests/data/<folder>/ and the pixel format its bitmap gets. The expected
// pixels are <name>.rgb beside it; `mask` is applied to every expected and decoded sample
// byte (for files whose components the reader widens differently from the tool).
struct TFixture {
  const char* File;
  TPixelDepth Depth;
  std::uint8_t Mask = 0xFF;
};

template <class Reader>
void ExpectFixturesDecode(const std::string& folder, std::initializer_list<TFixture> fixtures) {
  for (const TFixture& fixture : fixtures) {
    SCOPED_TRACE(fixture.File);
    Reader reader;
    const std::string file = folder + "/" + fixture.File;
    ASSERT_NO_THROW(reader.LoadFile(DataFile(file)));
    EXPECT_EQ(reader.PixelFormat(), fixture.Depth);
    std::string expected = ReadData(file.substr(0, file.rfind('.')) + ".rgb");
    std::string actual = RgbBytes(reader);
    for (char& c : expected) c = static_cast<char>(c & fixture.Mask);
    for (char& c : actual) c = static_cast<char>(c & fixture.Mask);
    EXPECT_TRUE(actual == expected) << FirstDifference(actual, expected);
  }
}

// The bytes of a file with patches applied, for malformed variants of good fixtures.
class TPatchedBytes {
 public:
  explicit TPatchedBytes(const std::string& bytes) : bytes_(bytes.begin(), bytes.end()) {}
  static TPatchedBytes OfFixture(const std::string& file) { return TPatchedBytes(ReadData(file)); }

  TPatchedBytes& Byte(std::size_t at, std::uint8_t value) {
    bytes_.at(at) = value;
    return *this;
  }
  TPatchedBytes& LE16(std::size_t at, std::uint16_t value) { return Byte(at, value & 0xFF).Byte(at + 1, value >> 8); }
  TPatchedBytes& BE16(std::size_t at, std::uint16_t value) { return Byte(at, value >> 8).Byte(at + 1, value & 0xFF); }
  TPatchedBytes& BE32(std::size_t at, std::uint32_t value) {
    return BE16(at, static_cast<std::uint16_t>(value >> 16)).BE16(at + 2, static_cast<std::uint16_t>(value));
  }
  TPatchedBytes& Cut(std::size_t size) {
    bytes_.resize(size);
    return *this;
  }
  std::string Bytes() const { return std::string(bytes_.begin(), bytes_.end()); }
  operator std::string() const { return Bytes(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Every prefix of a good file, loaded through a fresh reader: each loads or fails with one
// of our exceptions (LoadBytes catches only those; anything else ends the test).
template <class Reader>
void LoadEveryPrefix(const std::string& bytes) {
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    Reader reader;
    LoadBytes(reader, bytes.substr(0, size));
  }
}

// The largest difference between two equally long byte strings, sample by sample (-1 when
// their lengths differ): for decodes whose colour arithmetic rounds unlike the tool's.
inline int MaxDifference(const std::string& actual, const std::string& expected) {
  if (actual.size() != expected.size()) return -1;
  int worst = 0;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    const int difference = static_cast<unsigned char>(actual[i]) - static_cast<unsigned char>(expected[i]);
    worst = std::max(worst, difference < 0 ? -difference : difference);
  }
  return worst;
}

}  // namespace driftpost::testing
