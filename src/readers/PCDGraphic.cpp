#include "readers/PCDGraphic.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "picture/ColorManager.h"
#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

constexpr std::int64_t kSectorSize = 2048;
constexpr std::size_t kHeaderSize = 3 * kSectorSize;
constexpr std::size_t kOrientationAt = 3586;  // sector 1, byte 1538: the rotation code's two low bits
constexpr int kLoadedResolution = 2;          // 768 by 512, the largest stored without Huffman coding
constexpr int kLargestResolution = 5;

enum TPCDRotation : std::uint8_t { prNone = 0, prQuarterLeft = 1, prHalf = 2, prQuarterRight = 3 };

struct TPCDHeader {
  std::vector<std::uint8_t> Bytes;  // the three header sectors

  static TPCDHeader Read(TStream& stream) {
    TPCDHeader header{std::vector<std::uint8_t>(kHeaderSize)};
    stream.ReadBuffer(header.Bytes.data(), static_cast<std::int64_t>(kHeaderSize));
    return header;
  }

  bool Overview() const { return std::memcmp(Bytes.data(), "PCD_OPA", 7) == 0; }
  bool ImagePac() const { return std::memcmp(&Bytes[kSectorSize], "PCD", 3) == 0; }
  bool Valid() const { return Overview() || ImagePac(); }
  std::uint8_t Rotation() const { return Bytes[kOrientationAt] & 3; }
  bool TurnedAQuarter() const { return Rotation() == prQuarterLeft || Rotation() == prQuarterRight; }
  std::uint16_t ImageCount() const { return LoadBE16(&Bytes[10]); }
  // Where the pixels of the loaded resolution start: overview files keep their thumbnails
  // from sector 5, image pacs their 768 by 512 picture from sector 96.
  std::int64_t FirstSector() const { return Overview() ? 5 : 96; }
  int Resolution(int wanted) const { return Overview() ? 0 : std::clamp(wanted, 0, kLargestResolution); }
};

}  // namespace

void EnlargePlane(std::uint8_t* plane, std::size_t width, std::size_t height, std::size_t stride) {
  // Each row doubled across into row 2y, from the last row up and from the right end, so
  // that nothing is overwritten before it is read.
  for (std::size_t y = height; y-- > 0;) {
    const std::uint8_t* source = plane + y * stride;
    std::uint8_t* target = plane + 2 * y * stride;
    target[2 * width - 1] = source[width - 1];
    target[2 * width - 2] = source[width - 1];
    for (std::size_t x = width - 1; x-- > 0;) {
      const unsigned left = source[x], right = source[x + 1];
      target[2 * x + 1] = static_cast<std::uint8_t>((left + right + 1) / 2);
      target[2 * x] = static_cast<std::uint8_t>(left);
    }
  }
  // The rows between, from the rows above and below them.
  const std::size_t columns = 2 * width;
  for (std::size_t k = 0; k + 1 < height; ++k) {
    const std::uint8_t* above = plane + 2 * k * stride;
    const std::uint8_t* below = above + 2 * stride;
    std::uint8_t* row = plane + (2 * k + 1) * stride;
    for (std::size_t x = 0; x + 1 < columns; x += 2) {
      row[x] = static_cast<std::uint8_t>((above[x] + below[x] + 1u) / 2);
      row[x + 1] = static_cast<std::uint8_t>((above[x] + above[x + 2] + below[x] + below[x + 2] + 2u) / 4);
    }
    row[columns - 1] = static_cast<std::uint8_t>((above[columns - 1] + below[columns - 1] + 1u) / 2);
  }
  std::memcpy(plane + (2 * height - 1) * stride, plane + (2 * height - 2) * stride, columns);
}

bool TPCDGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  if (BytesLeft(stream) <= static_cast<std::int64_t>(kHeaderSize)) return false;
  return TPCDHeader::Read(stream).Valid();
}

bool TPCDGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  if (BytesLeft(stream) < static_cast<std::int64_t>(kHeaderSize)) return false;
  const TPCDHeader header = TPCDHeader::Read(stream);
  if (!header.Valid()) return false;
  TImageProperties& properties = imageProperties_;
  const int resolution = header.Resolution(imageIndex);
  properties.Overview = header.Overview();
  properties.Orientation = header.Rotation();
  properties.Width = 192u << resolution;
  properties.Height = 128u << resolution;
  if (header.TurnedAQuarter()) std::swap(properties.Width, properties.Height);
  properties.ColorScheme = cmPhotoYCC;
  properties.BitsPerSample = 8;
  properties.SamplesPerPixel = 3;
  properties.BitsPerPixel = 24;
  properties.Compression = resolution < 3 ? cpNone : cpPCDHuffman;
  properties.ImageCount = header.ImageCount();
  return true;
}

void TPCDGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {
  const std::int64_t base = stream.Position();
  ReadProperties(stream, kLoadedResolution);
  stream.SetPosition(base);
  const TPCDHeader header = TPCDHeader::Read(stream);
  const std::size_t width = header.Overview() ? 192 : 768;
  const std::size_t height = header.Overview() ? 128 : 512;

  // Rows come in pairs: two rows of luma, then one row of each chroma plane at half width.
  const std::size_t pairBytes = 3 * width;
  const std::int64_t start = base + header.FirstSector() * kSectorSize;
  if (stream.Size() - start < static_cast<std::int64_t>(pairBytes * height / 2)) RaiseInvalidImage();
  progress.Begin("Loading data...");
  std::vector<std::uint8_t> stored(pairBytes * height / 2);
  stream.SetPosition(start);
  stream.ReadBuffer(stored.data(), static_cast<std::int64_t>(stored.size()));

  // The chroma planes get the full row length, so that they can be enlarged in place.
  std::vector<std::uint8_t> luma(width * height), chroma1(width * height), chroma2(width * height);
  for (std::size_t pair = 0; pair < height / 2; ++pair) {
    const std::uint8_t* at = stored.data() + pair * pairBytes;
    std::memcpy(&luma[2 * pair * width], at, 2 * width);
    std::memcpy(&chroma1[pair * width], at + 2 * width, width / 2);
    std::memcpy(&chroma2[pair * width], at + 2 * width + width / 2, width / 2);
  }
  progress.Begin("Upsampling...");
  EnlargePlane(chroma1.data(), width / 2, height / 2, width);
  EnlargePlane(chroma2.data(), width / 2, height / 2, width);

  TColorManager& colors = ColorManager();
  colors.SourceFlags = {};
  colors.SetSourceModel(cmPhotoYCC);
  colors.SetSourceBits(8);
  colors.SetSourceSamples(3);
  colors.SetTargetModel(cmBGR);
  colors.SetTargetBits(8);
  colors.SetTargetSamples(3);
  colors.SetYCbCrLayout({0.2125f, 0.7154f, 0.0721f}, 2, 2);
  SetPixelFormat(pd24Bit);

  const bool turned = header.TurnedAQuarter();
  const int columns = static_cast<int>(turned ? height : width);
  const int rows = static_cast<int>(turned ? width : height);
  SetSize(columns, rows);
  progress.BeginRows(columns);
  std::vector<std::uint8_t> work(3 * width);
  std::uint8_t* const top = ScanLine(0);
  const std::ptrdiff_t rowStride = RowStride();
  for (std::size_t y = 0; y < height; ++y) {
    const std::size_t offset = y * width;
    const std::array<const std::uint8_t*, 3> planes = {&luma[offset], &chroma1[offset], &chroma2[offset]};
    if (!turned) {
      colors.TranslateRow(planes, ScanLine(static_cast<int>(y)), static_cast<std::uint32_t>(width));
    } else {
      colors.TranslateRow(planes, work.data(), static_cast<std::uint32_t>(width));
      // A quarter to the left: the stored picture's last column becomes the top row, read
      // from its top; a quarter to the right: its first column, read from its bottom.
      const bool left = header.Rotation() == prQuarterLeft;
      const std::size_t column = left ? y : height - 1 - y;
      for (std::size_t x = 0; x < width; ++x) {
        const auto row = static_cast<std::ptrdiff_t>(left ? width - 1 - x : x);
        std::memcpy(top + row * rowStride + 3 * column, &work[3 * x], 3);
      }
    }
    progress.RowDone(static_cast<int>(y), static_cast<int>(height));
  }
}

}  // namespace driftpost
