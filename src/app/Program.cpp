#include "app/Program.h"

#include <cstdio>
#include <sys/stat.h>

#include "picture/FormatRegistry.h"
#include "platform/Exception.h"
#include "platform/StringList.h"

namespace driftpost {

TProgram::TProgram(std::string executablePath)
    : iniFileName_(IniFileNameFor(executablePath)),
      containerFileName_(ContainerFileNameFor(executablePath)),
      documentFolder_(DocumentFolderFor(executablePath)) {}

void TProgram::CreateStore() {
  // The store counts a file as a picture by every extension the picture formats register.
  TStringList extensions;
  FormatRegistry().ListExtensions(extensions);
  store_ = std::make_unique<TItemStore>(extensions.Items());
  struct stat info;
  if (::stat(containerFileName_.c_str(), &info) == 0) store_->LoadContainerFile(containerFileName_);
}

void TProgram::InitConsole() {
  settings_ = ReadServerSettings(iniFileName_);
  log_.Clear();
  log_.LogLine(BannerLine);
}

bool TProgram::SaveShares() {
  if (!store_) return true;
  try {
    store_->SaveContainerFile(containerFileName_);
    return true;
  } catch (const Exception& error) {
    std::fprintf(stderr, "%s\n", error.Message().c_str());
    return false;
  }
}

}  // namespace driftpost
