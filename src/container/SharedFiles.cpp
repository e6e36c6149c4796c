#include "container/SharedFiles.h"

namespace driftpost {

bool CanShare(const std::string& path) {
  return !path.empty() && path.front() == '/' && path.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

int ShareFiles(TItemStore& store, const std::vector<std::string>& paths) {
  int added = 0;
  for (const std::string& path : paths) {
    if (!CanShare(path)) continue;
    store.AddItem(path);
    ++added;
  }
  return added;
}

}  // namespace driftpost
