// The settings file and the share list are read from disk, where anyone may have edited
// them: any bytes must load without a crash.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "container/ItemStore.h"
#include "picture/RegisteredFormats.h"
#include "platform/IniFile.h"
#include "platform/TextUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string fileName = "/tmp/driftpost-fuzz-" + std::to_string(::getpid());
  std::FILE* file = std::fopen(fileName.c_str(), "wb");
  if (!file) return 0;
  if (size) std::fwrite(data, 1, size, file);
  std::fclose(file);

  driftpost::TIniFile ini(fileName);
  ini.ReadString("Data", "Port", "80");
  ini.ReadInteger("Container", "Width", 348);

  driftpost::TItemStore store(driftpost::RegisteredExtensions());
  store.LoadContainerFile(fileName);
  std::string text = store.ContainerText();
  for (driftpost::TItemCategory category : driftpost::AllCategories)
    for (int i = 0; i < store.List(category).Count(); ++i)
      driftpost::AnsiSameText(store.List(category).Path(i), text);
  ::unlink(fileName.c_str());
  return 0;
}
