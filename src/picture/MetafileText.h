// The text of metafile records as UTF-8: the old format's strings are in the Windows
// code page of western Europe (1252), the enhanced format's in UTF-16. Characters that
// cannot be shown become U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace driftpost::metafile {

std::string AnsiToUtf8(const std::uint8_t* data, std::size_t size);
// `count` 16-bit code units, little-endian.
std::string Utf16ToUtf8(const std::uint8_t* data, std::size_t count);

}  // namespace driftpost::metafile
