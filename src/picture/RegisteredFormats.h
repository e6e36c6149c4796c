// The picture formats the program reads, in the order they are registered at start-up. The
// format registry registers from this table, and the item store recognises pictures by the
// extensions it lists.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace driftpost {

struct TRegisteredFormat {
  const char* Extension;   // lower case, no dot
  const char* ClassName;   // the reader class that loads it
  const char* Common;      // the class's common description, empty when not given here
  const char* Individual;  // this extension's own description, may be empty
};

extern const std::array<TRegisteredFormat, 39> RegisteredFormats;

// The registered extensions in registration order.
std::vector<std::string> RegisteredExtensions();

}  // namespace driftpost
