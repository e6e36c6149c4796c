// The colour manager's settings come from picture headers and its rows from picture data:
// any settings, any row and any raw palette must convert without touching memory outside
// the rows and palette data of the sizes the header describes. Every buffer here is
// allocated at exactly that size, so a converter that strays hits the sanitizers.
//
// Input: source model, target model, source bits, target bits, source samples, target
// samples, source flags, target flags, an options byte (1 gamma, 2 YCbCr layout), two gamma
// floats, a coefficient count, three coefficient floats, two subsampling bytes, a 10-bit
// pixel count, the mask, the plane count, a palette layout, a palette count, the blue-first
// byte; the rest fills the rows and the palette data.
#include <cstdint>
#include <cstring>
#include <vector>

#include "picture/ColorManager.h"

namespace {

using driftpost::EColorConversionError;
using driftpost::TColorManager;
using driftpost::TColorModel;

class TFuzzInput {
 public:
  TFuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  float Float() {
    std::uint8_t bytes[4] = {Byte(), Byte(), Byte(), Byte()};
    float value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }
  // A buffer of exactly `size` bytes filled from the rest of the input, repeated.
  std::vector<std::uint8_t> Buffer(std::size_t size) {
    std::vector<std::uint8_t> buffer(size);
    for (std::size_t i = 0; i < size; ++i) buffer[i] = at_ < size_ ? data_[at_ + i % (size_ - at_)] : 0x5A;
    return buffer;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

template <typename Action>
void Try(Action&& action) {
  try {
    action();
  } catch (const EColorConversionError&) {
  }
}

std::size_t BitsToBytes(std::uint64_t bits) { return static_cast<std::size_t>((bits + 7) / 8); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TFuzzInput input(data, size);
  TColorManager manager;
  const auto sourceModel = static_cast<TColorModel>(input.Byte() % 14);
  const auto targetModel = static_cast<TColorModel>(input.Byte() % 14);
  const unsigned sourceBits = input.Byte() % 18;
  const unsigned targetBits = input.Byte() % 18;
  const unsigned sourceSamples = input.Byte() % 6;
  const unsigned targetSamples = input.Byte() % 6;
  const std::uint8_t sourceFlags = input.Byte();
  const std::uint8_t targetFlags = input.Byte();
  const std::uint8_t options = input.Byte();
  const float mainGamma = input.Float();
  const float displayGamma = input.Float();
  std::vector<float> coefficients(input.Byte() % 5);
  for (int i = 0; i < 3; ++i) {
    float value = input.Float();
    if (static_cast<std::size_t>(i) < coefficients.size()) coefficients[i] = value;
  }
  const unsigned horizontal = input.Byte();
  const unsigned vertical = input.Byte();
  const std::uint32_t count = input.Byte() | (input.Byte() & 0x03u) << 8;
  const std::uint8_t mask = input.Byte();
  const std::size_t planeCount = 1 + input.Byte() % 4;
  const auto paletteLayout = static_cast<driftpost::TPaletteLayout>(input.Byte() % 8);
  const std::uint32_t paletteCount = input.Byte() * 2u;
  const bool blueFirst = input.Byte() & 1;

  manager.SetSourceModel(sourceModel);
  manager.SetTargetModel(targetModel);
  Try([&] { manager.SetSourceBits(sourceBits); });
  Try([&] { manager.SetTargetBits(targetBits); });
  Try([&] { manager.SetSourceSamples(sourceSamples); });
  Try([&] { manager.SetTargetSamples(targetSamples); });
  for (std::uint8_t flag = 0; flag < 5; ++flag) {
    if (sourceFlags & (1u << flag)) manager.SourceFlags.Include(static_cast<driftpost::TConversionFlag>(flag));
    if (targetFlags & (1u << flag)) manager.TargetFlags.Include(static_cast<driftpost::TConversionFlag>(flag));
  }
  if (options & 1) manager.SetGammaValues(mainGamma, displayGamma);
  if (options & 2) Try([&] { manager.SetYCbCrLayout(coefficients, horizontal, vertical); });

  // The row sizes the settings advertise.
  std::uint32_t selected = 0;
  for (std::uint32_t pixel = 0; pixel < count; ++pixel) selected += (mask >> (7 - pixel % 8)) & 1u;
  const bool planar = planeCount > 1;
  const std::size_t planeBytes =
      BitsToBytes(std::uint64_t{selected} * manager.SourceBits() * (planar ? 1u : manager.SourceSamples()));
  const bool indexedTarget = targetModel == driftpost::cmIndexed || targetModel == driftpost::cmGray;
  const bool alphaTarget = targetModel == driftpost::cmRGBA || targetModel == driftpost::cmBGRA;
  const std::size_t targetBytes =
      indexedTarget ? BitsToBytes(std::uint64_t{count} * manager.TargetBits()) : count * (alphaTarget ? 4u : 3u);

  std::vector<std::vector<std::uint8_t>> planes;
  std::vector<const std::uint8_t*> pointers;
  for (std::size_t i = 0; i < planeCount; ++i) planes.push_back(input.Buffer(planeBytes));
  for (const auto& plane : planes) pointers.push_back(plane.data());
  std::vector<std::uint8_t> target = input.Buffer(targetBytes);
  Try([&] { manager.TranslateRow(pointers, target.data(), count, mask); });

  manager.BitmapDepth(driftpost::TColorSide::Source);
  manager.BitmapDepth(driftpost::TColorSide::Target);
  manager.BuildGrayPalette(options & 4);

  // Raw palette data of exactly the entries read.
  const bool planarPalette = paletteLayout == driftpost::plPlanar8Triple || paletteLayout == driftpost::plPlanar8Quad ||
                             paletteLayout == driftpost::plPlanar16Triple || paletteLayout == driftpost::plPlanar16Quad;
  const std::size_t valueBytes = paletteLayout >= driftpost::plInterleaved16Triple ? 2 : 1;
  const std::size_t entries = std::min<std::uint32_t>(paletteCount, 256);
  const bool quad = paletteLayout == driftpost::plInterleaved8Quad || paletteLayout == driftpost::plInterleaved16Quad;
  const std::size_t paletteBytes = entries * valueBytes * (planarPalette ? 1 : quad ? 4 : 3);
  std::vector<std::vector<std::uint8_t>> paletteData;
  std::vector<const std::uint8_t*> palettePointers;
  for (std::size_t i = 0; i < (planarPalette ? 3u : 1u); ++i) paletteData.push_back(input.Buffer(paletteBytes));
  for (const auto& plane : paletteData) palettePointers.push_back(plane.data() ? plane.data() : data);
  Try([&] { manager.BuildPalette(palettePointers, paletteLayout, paletteCount, blueFirst); });
  return 0;
}
