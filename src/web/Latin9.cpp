#include "web/Latin9.h"

#include <cstdint>

#include "platform/TextUtils.h"

namespace driftpost {

namespace {

// The eight positions where ISO-8859-15 differs from ISO-8859-1, with the characters it
// puts there.
struct TLatin9Difference {
  unsigned char Byte;
  char32_t Character;
};
constexpr TLatin9Difference Differences[] = {
    {0xA4, U'\u20AC'},  // euro sign
    {0xA6, U'\u0160'},  // S with caron
    {0xA8, U'\u0161'},  // s with caron
    {0xB4, U'\u017D'},  // Z with caron
    {0xB8, U'\u017E'},  // z with caron
    {0xBC, U'\u0152'},  // ligature OE
    {0xBD, U'\u0153'},  // ligature oe
    {0xBE, U'\u0178'},  // Y with diaeresis
};

// The Latin-9 byte of a character, or -1 when Latin-9 has none.
int Latin9Byte(char32_t c) {
  for (const TLatin9Difference& difference : Differences) {
    if (difference.Character == c) return difference.Byte;
    if (difference.Byte == c) return -1;  // a Latin-1 character that Latin-9 replaced
  }
  return c <= 0xFF ? static_cast<int>(c) : -1;
}

char32_t Latin9Character(unsigned char byte) {
  for (const TLatin9Difference& difference : Differences)
    if (difference.Byte == byte) return difference.Character;
  return byte;
}

// The lower-case form of a Latin-9 letter; other bytes stay.
unsigned char FoldLatin9(unsigned char byte) {
  if (byte >= 'A' && byte <= 'Z') return static_cast<unsigned char>(byte + 32);
  // Agrave..Thorn, except the multiplication sign, pair with agrave..thorn.
  if (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7) return static_cast<unsigned char>(byte + 32);
  switch (byte) {
    case 0xA6: return 0xA8;  // S/s with caron
    case 0xB4: return 0xB8;  // Z/z with caron
    case 0xBC: return 0xBD;  // OE/oe
    case 0xBE: return 0xFF;  // Y/y with diaeresis
    default: return byte;
  }
}

}  // namespace

namespace {

enum class TLatin9Use { Text, Link };

std::string ToLatin9(const std::string& text, TLatin9Use use) {
  std::string out;
  out.reserve(text.size());
  auto escape = [&out](unsigned char byte) { AppendHexByte(out, "%", byte); };
  for (std::size_t i = 0; i < text.size();) {
    char32_t c;
    std::size_t length = DecodeUtf8(text, i, c);
    if (length == 0) {
      out += text[i];
      ++i;
      continue;
    }
    const int byte = Latin9Byte(c);
    if (use == TLatin9Use::Text) {
      out += byte < 0 ? '?' : static_cast<char>(byte);
    } else if (byte < 0) {
      for (std::size_t k = i; k < i + length; ++k) escape(static_cast<unsigned char>(text[k]));
    } else if (byte < 0x20 || byte == 0x7F || byte == '%' || byte == '"' || byte == '#') {
      escape(static_cast<unsigned char>(byte));
    } else {
      out += static_cast<char>(byte);
    }
    i += length;
  }
  return out;
}

}  // namespace

std::string Utf8ToLatin9(const std::string& text) { return ToLatin9(text, TLatin9Use::Text); }

std::string Utf8ToLatin9Link(const std::string& text) { return ToLatin9(text, TLatin9Use::Link); }

std::string Latin9ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char byte : text) EncodeUtf8(Latin9Character(static_cast<unsigned char>(byte)), out);
  return out;
}

std::string MixedToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c;
    std::size_t length = DecodeUtf8(text, i, c);
    if (length == 0) {
      EncodeUtf8(Latin9Character(static_cast<unsigned char>(text[i])), out);
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

bool IsUtf8(const std::string& text) {
  char32_t c;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = DecodeUtf8(text, i, c);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool Latin9SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldLatin9(static_cast<unsigned char>(a[i])) != FoldLatin9(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace driftpost
