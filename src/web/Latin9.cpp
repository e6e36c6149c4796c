#include "web/Latin9.h"

#include <cstdint>

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

// Decodes one well-formed, shortest-form UTF-8 sequence at text[i]; its length, or 0.
std::size_t DecodeUtf8(const std::string& text, std::size_t i, char32_t& out) {
  const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length;
  char32_t value;
  if (lead < 0x80) {
    out = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (length > text.size() - i) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
      (value >= 0xD800 && value <= 0xDFFF))
    return 0;
  out = value;
  return length;
}

// Latin-9 characters all lie below U+10000.
void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
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

std::string Utf8ToLatin9(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c;
    std::size_t length = DecodeUtf8(text, i, c);
    if (length == 0) {
      out += text[i];
      ++i;
      continue;
    }
    int byte = Latin9Byte(c);
    out += byte < 0 ? '?' : static_cast<char>(byte);
    i += length;
  }
  return out;
}

std::string Latin9ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char byte : text) AppendUtf8(Latin9Character(static_cast<unsigned char>(byte)), out);
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
