// Playing metafiles: the fixtures written by Inkscape drawn at their own size and at the size
// of a screen, and drawings built to be as costly as the work budget lets them be (a fill of
// edges that all cross one another, thousands of wide and dashed strokes), whose times show
// what a hostile file can cost.
#include <benchmark/benchmark.h>

#include <string>

#include "picture/Bitmap.h"
#include "picture/Metafile.h"
#include "platform/Stream.h"

namespace driftpost {
namespace {

std::string Fixture(const char* name) {
  TFileStream file(std::string(DRIFTPOST_TEST_DATA "/metafile/") + name, fmOpenRead);
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  file.ReadBuffer(bytes.data(), file.Size());
  return bytes;
}

void Put16(std::string& out, int value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>(value >> 8 & 0xFF);
}

// A placeable Windows metafile of `side` by `side` pixels holding the records given.
std::string Placeable(int side, const std::string& records) {
  std::string out("\xD7\xCD\xC6\x9A\0\0\0\0\0\0", 10);
  Put16(out, side);
  Put16(out, side);
  Put16(out, 96);
  out += std::string(6, '\0');
  out += std::string("\1\0\x09\0\0\x03\0\0\0\0\x08\0\0\0\0\0\0\0", 18);
  return out + records + std::string("\3\0\0\0\0\0", 6);
}

std::string Record(int function, std::initializer_list<int> words) {
  std::string out;
  Put16(out, static_cast<int>(3 + words.size()));
  Put16(out, 0);
  Put16(out, function);
  for (int word : words) Put16(out, word);
  return out;
}

void Play(benchmark::State& state, const std::string& bytes, int width, int height) {
  TMetafile metafile;
  TMemoryStream stream;
  stream.WriteText(bytes);
  stream.SetPosition(0);
  metafile.LoadStream(stream);
  TBitmap canvas;
  canvas.SetPixelFormat(pd24Bit);
  canvas.SetSize(width, height);
  for (auto _ : state) canvas.StretchDrawGraphic(TRect{0, 0, width, height}, metafile);
  state.counters["pixels"] = static_cast<double>(width) * height;
}

void BM_InkscapeWmf(benchmark::State& state) {
  Play(state, Fixture("inkscape.wmf"), static_cast<int>(state.range(0)), static_cast<int>(state.range(0)) * 2 / 3);
}
BENCHMARK(BM_InkscapeWmf)->Arg(240)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_InkscapeEmf(benchmark::State& state) {
  Play(state, Fixture("inkscape.emf"), static_cast<int>(state.range(0)), static_cast<int>(state.range(0)) * 2 / 3);
}
BENCHMARK(BM_InkscapeEmf)->Arg(240)->Arg(1024)->Unit(benchmark::kMillisecond);

// One polygon of 65535 points zigzagging across a 1000-pixel square: every row crosses
// thousands of edges that cross one another.
void BM_CrossingEdges(benchmark::State& state) {
  std::string records = Record(0x02FC, {0, 0xFF, 0, 0}) + Record(0x012D, {0});
  std::string polygon;
  constexpr int Words = 3 + 1 + 2 * 65535;
  Put16(polygon, Words & 0xFFFF);
  Put16(polygon, Words >> 16);
  Put16(polygon, 0x0324);
  Put16(polygon, 65535);
  for (int i = 0; i < 65535; ++i) {
    Put16(polygon, i % 2 ? 1000 : 0);
    Put16(polygon, i * 7 % 1000);
  }
  Play(state, Placeable(1000, records + polygon), 1000, 1000);
}
BENCHMARK(BM_CrossingEdges)->Unit(benchmark::kMillisecond);

// 20000 strokes with a 500-pixel pen, and 20000 dashed diagonals, across a 2000-pixel square.
void BM_WideAndDashedStrokes(benchmark::State& state) {
  std::string records = Record(0x02FA, {0, 500, 0, 0, 0}) + Record(0x02FA, {2, 0, 0, 0, 0});
  records += Record(0x012D, {0});
  for (int i = 0; i < 20000; ++i) records += Record(0x0325, {2, 0, i % 2000, 2000, 1999 - i % 2000});
  records += Record(0x012D, {1});
  for (int i = 0; i < 20000; ++i) records += Record(0x0325, {2, 0, 0, 2000, i % 2000});
  Play(state, Placeable(2000, records), 2000, 2000);
}
BENCHMARK(BM_WideAndDashedStrokes)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace driftpost
