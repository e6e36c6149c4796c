// The pixel formats a bitmap can have. Readers choose one for the layout they decode into;
// the colour manager says which one fits a given target layout.
#pragma once

#include <cstdint>

namespace driftpost {

enum TPixelDepth : std::uint8_t {
  pdDevice = 0,  // the display's own format: 32 bits per pixel here
  pd1Bit = 1,    // palette of 2
  pd4Bit = 2,    // palette of 16
  pd8Bit = 3,    // palette of 256
  pd15Bit = 4,   // 5 bits each of blue, green, red
  pd16Bit = 5,   // 5-6-5 bits of blue, green, red
  pd24Bit = 6,   // blue, green, red bytes
  pd32Bit = 7,   // blue, green, red and a fourth byte
  pdCustom = 8,
};

}  // namespace driftpost
