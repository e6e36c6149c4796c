// Reading the local file paths out of a "text/uri-list" (one URI a line, CR LF between
// lines, '#' starting a comment line), as file managers offer dragged files. The data comes
// from whichever program started the drag, so any bytes must be handled.
#pragma once

#include <string>
#include <vector>

namespace driftpost {

// The paths of the file: URIs that name this machine (no host, "localhost" or this host's
// name), percent-decoding undone, in the list's order. Every other URI is left out, and so is
// a path that is empty, relative or holds a zero byte.
std::vector<std::string> LocalFilesOfUriList(const std::string& uriList);

}  // namespace driftpost
