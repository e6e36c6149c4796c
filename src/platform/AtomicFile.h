// Replacing a file's content so that it always holds either the old or the new text: the
// new bytes go to a temporary file in the same folder, are flushed to the disk, and the
// temporary file is then renamed over the old one. A crash or a full disk during the write
// leaves the old file untouched.
#pragma once

#include <string>

namespace driftpost {

// Raises EFCreateError when the file cannot be written; the old file is then unchanged and
// no temporary file is left behind.
void WriteFileAtomically(const std::string& fileName, const std::string& content);

}  // namespace driftpost
