// Text helpers shared by every layer: the file-name rules (extension, file name, directory),
// trimming, and letter-case mapping. Strings hold 8-bit bytes; paths are taken as the file
// system gives them. A path separator is '\', ':' or '/', so the Windows-style paths that
// users type and this platform's own paths both work.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace driftpost {

bool IsPathDelimiter(char c);

// The extension of a path with its dot: the text from the last '.' that follows the last
// separator; empty when there is no such '.'. "C:\My.Folder\file" has none.
std::string ExtractFileExt(const std::string& path);

// The path with its extension (and the dot) cut off; a path without one stays whole.
std::string StripExtension(const std::string& path);

// The text after the last separator.
std::string ExtractFileName(const std::string& path);

// The text up to and including the last separator; empty when there is none.
std::string ExtractFilePath(const std::string& path);

// The path with its extension replaced by `extension` (which carries its own dot).
std::string ChangeFileExt(const std::string& path, const std::string& extension);

// Removes leading and trailing blanks and control characters (bytes up to 32).
std::string Trim(const std::string& text);

// ASCII letters only; every other byte stays as it is.
std::string LowerCase(const std::string& text);
std::string UpperCase(const std::string& text);
bool SameText(const std::string& a, const std::string& b);

// Letter case folded for every letter of UTF-8 text, not only ASCII ("Ä" and "ä" are the
// same letter); bytes that are not valid UTF-8 are compared as they are.
std::string AnsiLowerCase(const std::string& text);
bool AnsiSameText(const std::string& a, const std::string& b);

// Decodes one well-formed, shortest-form UTF-8 sequence at text[i] into `out`; returns its
// length, or 0 when the bytes there are not one (or i is at the end).
std::size_t DecodeUtf8(const std::string& text, std::size_t i, char32_t& out);
// Appends the UTF-8 form of a Unicode scalar value.
void EncodeUtf8(char32_t value, std::string& out);

// Appends `prefix` and the byte as two upper-case hexadecimal digits ("%E6", "\x1B").
void AppendHexByte(std::string& out, const char* prefix, unsigned char byte);

// The text with every control character written as "\xNN" (its bytes in hexadecimal): C0
// controls, DEL, and C1 controls, whether as bare bytes 0x80-0x9F or as their UTF-8 forms
// (each byte of those escaped). Printable UTF-8 and every other byte stay as they are. Text
// from the network shown this way cannot move a terminal's cursor or start a line of its own.
std::string EscapeControlCharacters(const std::string& text);

// The text with '<', '>', '&' and '"' written as HTML character references, so that it
// shows as itself inside an element or an attribute value.
std::string EscapeHtml(const std::string& text);

// Strict conversion of a whole text to a 32-bit integer: optional blanks before it, an
// optional sign, then decimal digits, or "$"/"0x" and hexadecimal digits. Anything else,
// or a value outside the 32-bit range, gives nothing.
std::optional<std::int32_t> TryStrToInt(const std::string& text);
std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback);

}  // namespace driftpost
