// A dragged file list comes from whichever program started the drag: any bytes must be read
// without a crash, and every path taken must be absolute and free of zero bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "container/gui/UriList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string list(reinterpret_cast<const char*>(data), size);
  for (const std::string& path : driftpost::LocalFilesOfUriList(list))
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) std::abort();
  return 0;
}
