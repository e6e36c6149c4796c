// The PNG reader next to its yardstick, libpng's own decoding of the same files: both read
// the file from disk each time, as the program reads a shared picture, and libpng decodes
// into 8-bit rows in blue, green, red order (the bitmap's order; alpha kept, 16-bit samples
// narrowed, palettes and low grey depths left as indices and levels, as the reader leaves
// them). Every *.png in DRIFTPOST_BENCH_INPUTS gives one benchmark of each. Both live in this
// one program so that, run with --benchmark_enable_random_interleaving, a busy moment of the
// machine falls on both alike (bench/compare-readers.sh does so).
#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "readers/PNGGraphic.h"

namespace {

struct TFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Decodes one file; false when libpng refuses it.
bool DecodeWithLibpng(const std::string& path, std::vector<png_byte>& pixels, std::vector<png_bytep>& rows) {
  std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file.get());
  png_read_info(png, info);
  png_set_strip_16(png);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const png_size_t rowBytes = png_get_rowbytes(png, info);
  pixels.resize(rowBytes * height);
  rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.data() + y * rowBytes;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

void BM_Libpng(benchmark::State& state, const std::string& path) {
  std::vector<png_byte> pixels;
  std::vector<png_bytep> rows;
  for (auto _ : state) {
    if (!DecodeWithLibpng(path, pixels, rows)) state.SkipWithError("libpng refused the file");
    benchmark::DoNotOptimize(pixels.data());
  }
}

void BM_Decode(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    driftpost::TPNGGraphic picture;
    picture.LoadFile(path);
    benchmark::DoNotOptimize(picture.Width());
  }
}

[[maybe_unused]] const bool registered = [] {
  const char* inputs = std::getenv("DRIFTPOST_BENCH_INPUTS");
  if (!inputs) {
    std::fprintf(stderr, "DRIFTPOST_BENCH_INPUTS names no folder of pictures (bench/compare-readers.sh makes one)\n");
    return false;
  }
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(inputs))
    if (entry.path().extension() == ".png") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    benchmark::RegisterBenchmark(("BM_Decode/" + file.filename().string()).c_str(), BM_Decode, file.string())
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_Libpng/" + file.filename().string()).c_str(), BM_Libpng, file.string())
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
