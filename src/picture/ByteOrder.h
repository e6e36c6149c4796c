// Fixed-size integers read from (and written to) file bytes in a stated byte order. The
// callers have checked that the bytes are there; these only assemble them.
#pragma once

#include <cstdint>

namespace driftpost {

inline std::uint16_t LoadLE16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | at[1] << 8); }
inline std::uint32_t LoadLE32(const std::uint8_t* at) {
  return at[0] | static_cast<std::uint32_t>(at[1]) << 8 | static_cast<std::uint32_t>(at[2]) << 16 |
         static_cast<std::uint32_t>(at[3]) << 24;
}
inline std::uint16_t LoadBE16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] << 8 | at[1]); }
inline std::uint32_t LoadBE32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
         static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}

inline void StoreLE16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void StoreLE32(std::uint8_t* at, std::uint32_t value) {
  StoreLE16(at, value);
  StoreLE16(at + 2, value >> 16);
}

}  // namespace driftpost
