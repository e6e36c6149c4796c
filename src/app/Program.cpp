#include "app/Program.h"

#include "picture/RegisteredFormats.h"

namespace driftpost {

TProgram::TProgram(std::string executablePath)
    : iniFileName_(IniFileNameFor(executablePath)),
      containerFileName_(ContainerFileNameFor(executablePath)),
      documentFolder_(DocumentFolderFor(executablePath)),
      console_(log_, iniFileName_) {}

void TProgram::CreateStore() { store_ = std::make_unique<TItemStore>(RegisteredExtensions()); }

}  // namespace driftpost
