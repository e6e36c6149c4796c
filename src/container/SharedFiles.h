// Sharing files the way a drop on the Container window does, for every way files arrive: a
// drop from the file manager, or the program's command line. Each full path, file or folder,
// becomes one entry of the item store, classified by its extension; a path that is already
// shared gets a second entry of its own.
#pragma once

#include <string>
#include <vector>

#include "container/ItemStore.h"

namespace driftpost {

// Whether the share list file can hold the path: a full path whose bytes hold no line break
// and no zero byte, so that it reads back as the same one line.
bool CanShare(const std::string& path);

// Adds each path in the given order. Paths the share list file could not hold are left out,
// as they would come back from it as other paths. Returns how many entries were added.
int ShareFiles(TItemStore& store, const std::vector<std::string>& paths);

}  // namespace driftpost
