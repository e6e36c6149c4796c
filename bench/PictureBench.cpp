// The picture road's costs: resampling, JPEG encoding and decoding, and the whole road of a
// picture request (load, make the pixels, resample to fit 320 by 320, encode).
//
// The road benchmarks read their pictures from the folder named by DRIFTPOST_BENCH_INPUTS
// (bench/compare-imagemagick.sh fills it, so ImageMagick gets the same files); without it they
// write their own pictures to a temporary folder first.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "picture/Bitmap.h"
#include "picture/FormatRegistry.h"
#include "picture/JPEGImage.h"
#include "picture/Picture.h"
#include "picture/PictureFit.h"
#include "picture/Resample.h"
#include "platform/Stream.h"

namespace driftpost {
namespace {

// Something like a photograph: smooth colour changes with some grain, so JPEG has real work.
void PaintPhoto(TBitmap& bitmap, int width, int height) {
  bitmap.SetPixelFormat(pd24Bit);
  bitmap.SetSize(width, height);
  std::uint32_t noise = 12345;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      noise = noise * 1103515245 + 12345;
      const int grain = static_cast<int>(noise >> 27) - 16;
      const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
      row[3 * x] = static_cast<std::uint8_t>(std::clamp(128 + 100 * std::sin(6 * u + 2 * v) + grain, 0.0, 255.0));
      row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(128 + 90 * std::cos(5 * v - 3 * u) + grain, 0.0, 255.0));
      row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(255 * u * v + grain, 0.0, 255.0));
    }
  }
}

std::string EncodedPhoto(int width, int height) {
  TBitmap bitmap;
  PaintPhoto(bitmap, width, height);
  TJPEGImage jpeg;
  jpeg.CopyFrom(&bitmap);
  TMemoryStream stream;
  jpeg.SaveStream(stream);
  return stream.AsString();
}

void BM_Resample(benchmark::State& state) {
  TBitmap source;
  PaintPhoto(source, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    TBitmap bitmap;
    bitmap.CopyFrom(&source);
    Resample(320, 240, rfTriangle, 0, bitmap);
    benchmark::DoNotOptimize(bitmap.ScanLine(0));
  }
}
BENCHMARK(BM_Resample)->Args({384, 288})->Args({640, 480})->Args({4000, 3000})->Unit(benchmark::kMillisecond);

void BM_JpegEncode(benchmark::State& state) {
  TBitmap bitmap;
  PaintPhoto(bitmap, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    TJPEGImage jpeg;
    jpeg.CopyFrom(&bitmap);
    TMemoryStream stream;
    jpeg.SaveStream(stream);
    benchmark::DoNotOptimize(stream.Size());
  }
}
BENCHMARK(BM_JpegEncode)->Args({320, 240})->Args({1024, 768})->Unit(benchmark::kMillisecond);

void BM_JpegDecode(benchmark::State& state) {
  const std::string file = EncodedPhoto(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    TMemoryStream stream;
    stream.WriteText(file);
    stream.SetPosition(0);
    TJPEGImage jpeg;
    jpeg.LoadStream(stream);
    jpeg.DIBNeeded();
    benchmark::DoNotOptimize(jpeg.Bitmap());
  }
}
BENCHMARK(BM_JpegDecode)->Args({1024, 768})->Args({4000, 3000})->Unit(benchmark::kMillisecond);

// The picture request's road, as the web front takes it for an .ajpeg request.
std::size_t PictureRoad(const std::string& path) {
  TPicture picture;
  picture.LoadFile(path);
  const int width = picture.Width(), height = picture.Height();
  if (width > 320 || height > 320) ResamplePicture(picture, FitIntoSquare(width, height, 320));
  TJPEGImage jpeg;
  if (auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic()))
    jpeg.TakeBitmap(*bitmap);
  else
    jpeg.CopyFrom(picture.Graphic());
  TMemoryStream stream;
  jpeg.SaveStream(stream);
  return static_cast<std::size_t>(stream.Size());
}

// The inputs of the road, written once per run unless a folder was given.
std::string InputFolder() {
  static const std::string folder = [] {
    if (const char* given = std::getenv("DRIFTPOST_BENCH_INPUTS")) return std::string(given);
    const std::string made = (std::filesystem::temp_directory_path() / "driftpost-bench-inputs").string();
    std::filesystem::create_directories(made);
    for (auto [width, height] : {std::pair{640, 480}, std::pair{4000, 3000}}) {
      TBitmap bitmap;
      PaintPhoto(bitmap, width, height);
      TFileStream out(made + "/photo" + std::to_string(width) + ".bmp", fmCreate);
      bitmap.SaveStream(out);
    }
    for (auto [width, height] : {std::pair{1024, 768}, std::pair{4000, 3000}}) {
      const std::string file = EncodedPhoto(width, height);
      TFileStream out(made + "/photo" + std::to_string(width) + ".jpg", fmCreate);
      out.WriteText(file);
    }
    return made;
  }();
  return folder;
}

void BM_Road(benchmark::State& state, const char* file) {
  InitializePictureFormats();
  const std::string path = InputFolder() + "/" + file;
  for (auto _ : state) benchmark::DoNotOptimize(PictureRoad(path));
}
BENCHMARK_CAPTURE(BM_Road, photo640.bmp, "photo640.bmp")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Road, photo4000.bmp, "photo4000.bmp")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Road, photo1024.jpg, "photo1024.jpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Road, photo4000.jpg, "photo4000.jpg")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace driftpost
