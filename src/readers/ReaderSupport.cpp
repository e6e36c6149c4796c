#include "readers/ReaderSupport.h"

#include <algorithm>
#include <cstring>

namespace driftpost {

std::int64_t BytesLeft(TStream& stream) {
  const std::int64_t position = stream.Position();
  return std::max<std::int64_t>(stream.Size() - position, 0);
}

std::string HeaderText(const std::uint8_t* at, std::size_t size) {
  const void* end = std::memchr(at, 0, size);
  const std::size_t length = end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - at) : size;
  return std::string(reinterpret_cast<const char*>(at), length);
}

}  // namespace driftpost
