#include "platform/TextUtils.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace driftpost {

namespace {

// Position of the dot that starts the extension, or npos.
std::size_t ExtensionDot(const std::string& path) {
  for (std::size_t i = path.size(); i-- > 0;) {
    if (path[i] == '.') return i;
    if (IsPathDelimiter(path[i])) return std::string::npos;
  }
  return std::string::npos;
}

std::size_t LastDelimiter(const std::string& path) {
  for (std::size_t i = path.size(); i-- > 0;)
    if (IsPathDelimiter(path[i])) return i;
  return std::string::npos;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// The C library's Unicode case tables, independent of the process's own locale setting.
locale_t Utf8Locale() {
  static locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
    return l;
  }();
  return locale;
}

char32_t FoldLetter(char32_t c) {
  if (c < 0x80) return static_cast<char32_t>(AsciiLower(static_cast<char>(c)));
  locale_t locale = Utf8Locale();
  if (!locale) return c;
  wint_t lower = towlower_l(static_cast<wint_t>(c), locale);
  // A letter whose lower-case form is shorter or longer in UTF-8 is still mapped: the result
  // is compared as text, so the length may change.
  return static_cast<char32_t>(lower);
}

}  // namespace

std::size_t DecodeUtf8(const std::string& text, std::size_t i, char32_t& out) {
  if (i >= text.size()) return 0;
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
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
  if (i + length > text.size()) return 0;
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

std::string EscapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

void AppendHexByte(std::string& out, const char* prefix, unsigned char byte) {
  static const char digits[] = "0123456789ABCDEF";
  out += prefix;
  out += digits[byte >> 4];
  out += digits[byte & 0xF];
}

std::string EscapeControlCharacters(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t value = 0;
    std::size_t length = DecodeUtf8(text, i, value);
    const bool control = length == 0 ? (static_cast<unsigned char>(text[i]) >= 0x80 &&
                                        static_cast<unsigned char>(text[i]) <= 0x9F)
                                     : (value < 0x20 || (value >= 0x7F && value <= 0x9F));
    if (length == 0) length = 1;
    for (std::size_t k = i; k < i + length; ++k) {
      if (control)
        AppendHexByte(out, "\\x", static_cast<unsigned char>(text[k]));
      else
        out += text[k];
    }
    i += length;
  }
  return out;
}

void EncodeUtf8(char32_t value, std::string& out) {
  if (value < 0x80) {
    out += static_cast<char>(value);
  } else if (value < 0x800) {
    out += static_cast<char>(0xC0 | (value >> 6));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else if (value < 0x10000) {
    out += static_cast<char>(0xE0 | (value >> 12));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (value >> 18));
    out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  }
}

bool IsPathDelimiter(char c) { return c == '\\' || c == ':' || c == '/'; }

std::string ExtractFileExt(const std::string& path) {
  std::size_t dot = ExtensionDot(path);
  return dot == std::string::npos ? std::string() : path.substr(dot);
}

std::string StripExtension(const std::string& path) {
  std::size_t dot = ExtensionDot(path);
  return dot == std::string::npos ? path : path.substr(0, dot);
}

std::string ExtractFileName(const std::string& path) {
  std::size_t slash = LastDelimiter(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFilePath(const std::string& path) {
  std::size_t slash = LastDelimiter(path);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
  return StripExtension(path) + extension;
}

std::string Trim(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

std::string LowerCase(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string UpperCase(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

std::string AnsiLowerCase(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t letter;
    std::size_t length = DecodeUtf8(text, i, letter);
    if (length == 0) {
      out += text[i++];
      continue;
    }
    if (length == 1)
      out += AsciiLower(text[i]);
    else
      EncodeUtf8(FoldLetter(letter), out);
    i += length;
  }
  return out;
}

bool AnsiSameText(const std::string& a, const std::string& b) {
  if (a == b) return true;
  return AnsiLowerCase(a) == AnsiLowerCase(b);
}

std::optional<std::int32_t> TryStrToInt(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  long long value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    value = value * base + digit;
    if (value > 0xFFFFFFFFLL) return std::nullopt;
  }
  if (base == 16) {
    // Hexadecimal text names the 32-bit pattern, so $FFFFFFFF is -1.
    std::int32_t pattern = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return negative ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(pattern)) : pattern;
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback) {
  return TryStrToInt(text).value_or(fallback);
}

}  // namespace driftpost
