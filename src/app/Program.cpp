#include "app/Program.h"

#include "picture/FormatRegistry.h"
#include "platform/StringList.h"

namespace driftpost {

TProgram::TProgram(std::string executablePath)
    : iniFileName_(IniFileNameFor(executablePath)),
      containerFileName_(ContainerFileNameFor(executablePath)),
      documentFolder_(DocumentFolderFor(executablePath)),
      console_(log_, iniFileName_) {}

void TProgram::CreateStore() {
  // The store counts a file as a picture by every extension the picture formats register.
  TStringList extensions;
  FormatRegistry().ListExtensions(extensions);
  store_ = std::make_unique<TItemStore>(extensions.Items());
}

}  // namespace driftpost
