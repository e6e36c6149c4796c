// A later start of the program hands its files over a local socket; whatever bytes arrive
// there are read into paths and shared as a drop would share them, without a crash.
#include <cstdint>
#include <string_view>

#include "app/core/SingleInstance.h"
#include "container/ItemStore.h"
#include "container/SharedFiles.h"
#include "picture/RegisteredFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto paths = driftpost::ParseHandOver(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!paths) return 0;
  for (const std::string& path : *paths)
    if (path.empty() || path[0] != '/') __builtin_trap();
  driftpost::TItemStore store(driftpost::RegisteredExtensions());
  driftpost::ShareFiles(store, *paths);
  store.ContainerText();
  return 0;
}
