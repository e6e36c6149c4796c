// Converting one 1024-pixel row in the layouts readers meet most: 8-bit RGB to the
// bitmap's BGR, palette indices (copied, widened, and under an interlace mask), 16-bit
// big-endian RGB, RGBA through the gamma table (a PNG file stating its gamma), CMYK and YCbCr.
#include <benchmark/benchmark.h>

#include <vector>

#include "picture/ColorManager.h"

namespace {

using namespace driftpost;

constexpr std::uint32_t kPixels = 1024;

void ConvertRow(benchmark::State& state, TColorModel source, TColorModel target, unsigned sourceBits,
                unsigned targetBits, unsigned samples, TConversionFlags sourceFlags, std::uint8_t mask = 0xFF,
                TConversionFlags targetFlags = {}) {
  TColorManager manager;
  manager.SetSourceModel(source);
  manager.SetTargetModel(target);
  manager.SetSourceBits(sourceBits);
  manager.SetTargetBits(targetBits);
  manager.SetSourceSamples(samples);
  manager.SetTargetSamples(target == cmIndexed ? 1 : target == cmBGRA ? 4 : 3);
  manager.SourceFlags = sourceFlags;
  manager.TargetFlags = targetFlags;
  std::vector<std::uint8_t> row((kPixels * samples * sourceBits + 7) / 8);
  for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<std::uint8_t>(i * 37);
  std::vector<std::uint8_t> bitmapRow(kPixels * 4);
  for (auto _ : state) {
    manager.TranslateRow(row.data(), bitmapRow.data(), kPixels, mask);
    benchmark::DoNotOptimize(bitmapRow.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

void RGB8ToBGR(benchmark::State& state) { ConvertRow(state, cmRGB, cmBGR, 8, 8, 3, {}); }
void RGB16BigEndianToBGR(benchmark::State& state) { ConvertRow(state, cmRGB, cmBGR, 16, 8, 3, {cfSwapBytes}); }
void RGBA8ToBGRAWithGamma(benchmark::State& state) {
  ConvertRow(state, cmRGBA, cmBGRA, 8, 8, 4, {}, 0xFF, {cfGammaCorrect});
}
void Indexed8Copy(benchmark::State& state) { ConvertRow(state, cmIndexed, cmIndexed, 8, 8, 1, {}); }
void Indexed8Interlaced(benchmark::State& state) { ConvertRow(state, cmIndexed, cmIndexed, 8, 8, 1, {}, 0x55); }
void Indexed2To4(benchmark::State& state) { ConvertRow(state, cmIndexed, cmIndexed, 2, 4, 1, {}); }
void CMYK8ToBGR(benchmark::State& state) { ConvertRow(state, cmCMYK, cmBGR, 8, 8, 4, {}); }
void YCbCr8ToBGR(benchmark::State& state) { ConvertRow(state, cmYCbCr, cmBGR, 8, 8, 3, {}); }

BENCHMARK(RGB8ToBGR);
BENCHMARK(RGB16BigEndianToBGR);
BENCHMARK(RGBA8ToBGRAWithGamma);
BENCHMARK(Indexed8Copy);
BENCHMARK(Indexed8Interlaced);
BENCHMARK(Indexed2To4);
BENCHMARK(CMYK8ToBGR);
BENCHMARK(YCbCr8ToBGR);

}  // namespace
