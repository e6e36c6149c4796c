// Shared by the picture fuzz targets: smaller picture limits, so that no input spends its
// time filling a bitmap of a gigabyte, and a stream over the input's bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/PictureLimits.h"
#include "platform/Stream.h"

namespace driftpost::fuzzing {

inline void UseSmallPictureLimits() {
  static const bool done = [] {
    SetPictureLimits(TPictureLimits{std::uint64_t{1} << 19, std::uint64_t{1} << 21});
    return true;
  }();
  (void)done;
}

inline void FillStream(TMemoryStream& stream, const std::uint8_t* data, std::size_t size) {
  if (size) stream.WriteBuffer(data, static_cast<std::int64_t>(size));
  stream.SetPosition(0);
}

}  // namespace driftpost::fuzzing
