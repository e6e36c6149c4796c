// Metafiles written record by record for the tests: a placeable Windows metafile and an
// enhanced metafile, each with its header filled in and its end record appended.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "picture/Bitmap.h"
#include "picture/Metafile.h"
#include "platform/Stream.h"

namespace driftpost::testing {

inline void Put16(std::string& out, std::int64_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>(value >> 8 & 0xFF);
}
inline void Put32(std::string& out, std::int64_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16 & 0xFFFF);
}

// A colour as the formats store it: red in the low byte.
constexpr std::uint32_t Rgb(int red, int green, int blue) {
  return static_cast<std::uint32_t>(red | green << 8 | blue << 16);
}

// A placeable metafile whose bounding box is (0, 0, width, height) logical units at
// `inch` units to the inch.
class TWmfBytes {
 public:
  TWmfBytes(int width, int height, int inch) : width_(width), height_(height), inch_(inch) {}

  // One record: its function and its 16-bit parameter words, then any raw bytes.
  TWmfBytes& Record(std::uint16_t function, std::initializer_list<std::int64_t> words, const std::string& raw = "") {
    std::string params;
    for (std::int64_t word : words) Put16(params, word);
    params += raw;
    if (params.size() % 2) params += '\0';
    return Raw(static_cast<std::uint32_t>(3 + params.size() / 2), function, params);
  }
  // A record with a size field of our choosing, for broken files.
  TWmfBytes& Raw(std::uint32_t words, std::uint16_t function, const std::string& params) {
    Put32(records_, words);
    Put16(records_, function);
    records_ += params;
    return *this;
  }
  std::string Bytes(bool withEnd = true) const {
    std::string out;
    Put32(out, 0x9AC6CDD7);
    Put16(out, 0);
    for (int value : {0, 0, width_, height_, inch_}) Put16(out, value);
    Put32(out, 0);
    Put16(out, 0);
    std::string body = records_;
    if (withEnd) body += std::string("\x03\0\0\0\0\0", 6);
    Put16(out, 1);
    Put16(out, 9);
    Put16(out, 0x300);
    Put32(out, static_cast<std::int64_t>(9 + body.size() / 2));
    Put16(out, 8);  // objects
    Put32(out, 0);
    Put16(out, 0);
    return out + body;
  }

 private:
  int width_, height_, inch_;
  std::string records_;
};

// An enhanced metafile with a frame of width by height pixels and a reference device of 96
// dots per inch, so that the device's pixels are the picture's.
class TEmfBytes {
 public:
  TEmfBytes(int width, int height) : width_(width), height_(height) {}

  // One record: its type and its 32-bit parameters, then any raw bytes.
  TEmfBytes& Record(std::uint32_t type, std::initializer_list<std::int64_t> values, const std::string& raw = "") {
    std::string params;
    for (std::int64_t value : values) Put32(params, value);
    params += raw;
    while (params.size() % 4) params += '\0';
    return Raw(type, static_cast<std::uint32_t>(8 + params.size()), params);
  }
  TEmfBytes& Raw(std::uint32_t type, std::uint32_t size, const std::string& params) {
    Put32(records_, type);
    Put32(records_, size);
    records_ += params;
    return *this;
  }
  std::string Bytes(bool withEnd = true) const {
    std::string body = records_;
    if (withEnd) {
      Put32(body, 14);
      Put32(body, 20);
      for (int i = 0; i < 3; ++i) Put32(body, i == 1 ? 16 : 0);
    }
    std::string out;
    Put32(out, 1);
    Put32(out, 88);
    for (int value : {0, 0, width_, height_}) Put32(out, value);  // bounds
    // The frame in hundredths of a millimetre.
    for (int value : {0, 0, width_ * 2540 / 96, height_ * 2540 / 96}) Put32(out, value);
    Put32(out, 0x464D4520);
    Put32(out, 0x10000);
    Put32(out, static_cast<std::int64_t>(88 + body.size()));
    Put32(out, 2);
    Put16(out, 16);  // handles
    Put16(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    for (int value : {960, 960, 254, 254}) Put32(out, value);
    return out + body;
  }

 private:
  int width_, height_;
  std::string records_;
};

// A packed 24-bit bitmap of `width` by `height` pixels, rows stored bottom-up; `color(x, y)`
// gives each pixel (y counted from the top).
template <class F>
std::string PackedDib(int width, int height, F color) {
  std::string out;
  for (std::int64_t value : {40, width, height}) Put32(out, value);
  Put16(out, 1);
  Put16(out, 24);
  for (int i = 0; i < 6; ++i) Put32(out, 0);
  const int padding = (4 - width * 3 % 4) % 4;
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = color(x, y);
      out += static_cast<char>(c >> 16 & 0xFF);
      out += static_cast<char>(c >> 8 & 0xFF);
      out += static_cast<char>(c & 0xFF);
    }
    out.append(static_cast<std::size_t>(padding), '\0');
  }
  return out;
}

// Loads the bytes as a metafile and draws it at its own size on a white 24-bit bitmap.
inline std::unique_ptr<TBitmap> Played(const std::string& bytes) {
  TMetafile metafile;
  TMemoryStream stream;
  stream.WriteText(bytes);
  stream.SetPosition(0);
  metafile.LoadStream(stream);
  auto canvas = std::make_unique<TBitmap>();
  canvas->SetPixelFormat(pd24Bit);
  canvas->SetSize(metafile.Width(), metafile.Height());
  canvas->DrawGraphic(0, 0, metafile);
  return canvas;
}

}  // namespace driftpost::testing
