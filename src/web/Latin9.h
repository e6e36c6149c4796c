// The pages' character set. File names on this platform are UTF-8, but the Newton's browser
// knows no UTF-8: the pages declare ISO-8859-15 (Latin-9), and every text they take from a
// path is converted to it. ASCII stays as it is, so pages of ASCII names keep their sizes.
#pragma once

#include <string>

namespace driftpost {

// UTF-8 text in ISO-8859-15. A character that ISO-8859-15 lacks becomes '?'; bytes that are
// not UTF-8 at all are kept as they are (a file name written in a legacy 8-bit encoding is
// then linked by its own bytes, which the browser sends back unchanged).
std::string Utf8ToLatin9(const std::string& text);

// ISO-8859-15 text as UTF-8.
std::string Latin9ToUtf8(const std::string& text);

// Whether the bytes are well-formed UTF-8 (ASCII is).
bool IsUtf8(const std::string& text);

// Whether two ISO-8859-15 texts are equal when the letter case of every Latin-9 letter is
// ignored (A and a, Ä and ä, Š and š, Ÿ and ÿ, ...).
bool Latin9SameText(const std::string& a, const std::string& b);

}  // namespace driftpost
