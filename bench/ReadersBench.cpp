// Decoding time of each reader for a picture of 1024 by 768 pixels, loaded from its file as
// the program loads a shared picture. The pictures come from the folder named by
// DRIFTPOST_BENCH_INPUTS; bench/compare-readers.sh makes them and times ImageMagick's convert
// on the same files in the same run. Every file there whose extension a reader of this
// library is registered for becomes one benchmark.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "picture/FormatRegistry.h"
#include "picture/GraphicExGraphic.h"
#include "picture/Picture.h"
#include "picture/ReaderClasses.h"
#include "readers/ReaderRegistration.h"
#include "platform/TextUtils.h"

namespace driftpost {
namespace {

void BM_Decode(benchmark::State& state, TGraphicClass reader, const std::string& path) {
  for (auto _ : state) {
    std::unique_ptr<TGraphic> picture = reader->NewInstance();
    picture->LoadFile(path);
    benchmark::DoNotOptimize(picture->Width());
  }
}

[[maybe_unused]] const bool registered = [] {
  InstallReaders();
  InitializePictureFormats();
  const char* inputs = std::getenv("DRIFTPOST_BENCH_INPUTS");
  if (!inputs) {
    std::fprintf(stderr, "DRIFTPOST_BENCH_INPUTS names no folder of pictures (bench/compare-readers.sh makes one)\n");
    return false;
  }
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(inputs)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::string extension = ExtractFileExt(file.string());
    if (extension.empty()) continue;
    const TGraphicClass reader = FileFormats().FindByExtension(extension.substr(1));
    if (!reader || IsStandInReaderClass(reader) || !reader->InheritsFrom(TGraphicExGraphic::StaticClass()))
      continue;
    benchmark::RegisterBenchmark(("BM_Decode/" + file.filename().string()).c_str(), BM_Decode, reader, file.string())
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
}  // namespace driftpost
