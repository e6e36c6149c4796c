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

// UTF-8 text as the target of a link in an ISO-8859-15 page: as Utf8ToLatin9, except that a
// character ISO-8859-15 lacks is written as its UTF-8 bytes in %XX escapes (so that two
// names differing only in such characters keep links of their own), and so are '%', '"',
// '#' and control characters, which a link cannot carry as they are. A browser sends the
// escapes back as they are; the receiver decodes them.
std::string Utf8ToLatin9Link(const std::string& text);

// ISO-8859-15 text as UTF-8.
std::string Latin9ToUtf8(const std::string& text);

// Text in which UTF-8 and ISO-8859-15 are mixed (a link's own bytes with the UTF-8 escapes
// it holds decoded), as UTF-8: every well-formed UTF-8 sequence is kept, every other byte
// is read as ISO-8859-15.
std::string MixedToUtf8(const std::string& text);

// Whether the bytes are well-formed UTF-8 (ASCII is).
bool IsUtf8(const std::string& text);

// Whether two ISO-8859-15 texts are equal when the letter case of every Latin-9 letter is
// ignored (A and a, Ä and ä, Š and š, Ÿ and ÿ, ...).
bool Latin9SameText(const std::string& a, const std::string& b);

}  // namespace driftpost
