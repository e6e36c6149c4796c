#include "readers/CUTGraphic.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <vector>

#include "platform/TextUtils.h"
#include "readers/GraphicCompression.h"
#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

constexpr std::size_t kPaletteBlock = 512;
constexpr std::size_t kFirstEntry = 40;
constexpr std::size_t kLastEntryStart = 506;
constexpr std::size_t kEntryBytes = 6;

// The offset of palette entry `index` in the file.
std::size_t PaletteEntryOffset(std::size_t index) {
  const std::size_t firstBlockEntries = (kLastEntryStart - kFirstEntry) / kEntryBytes + 1;
  if (index < firstBlockEntries) return kFirstEntry + index * kEntryBytes;
  const std::size_t blockEntries = kLastEntryStart / kEntryBytes + 1;
  index -= firstBlockEntries;
  return (1 + index / blockEntries) * kPaletteBlock + index % blockEntries * kEntryBytes;
}

// The palette file of a picture: its path with the extension ".pal" when that file exists,
// else a file of the same name whose extension is "pal" in another letter case (DOS-era
// pictures come as PIC.CUT with PIC.PAL), the first in name order. The ".pal" path when
// there is neither.
std::string FindPaletteFile(const std::string& picturePath) {
  namespace fs = std::filesystem;
  const std::string exact = ChangeFileExt(picturePath, ".pal");
  std::error_code error;
  if (fs::is_regular_file(exact, error)) return exact;
  const fs::path exactPath(exact);
  const std::string wanted = exactPath.filename().string();
  const std::size_t stem = wanted.size() - 3;  // the name up to and including its dot
  const fs::path folder = exactPath.has_parent_path() ? exactPath.parent_path() : fs::path(".");
  std::string found;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.size() != wanted.size() || name.compare(0, stem, wanted, 0, stem) != 0) continue;
    if (!SameText(name.substr(stem), "pal") || (!found.empty() && name >= found)) continue;
    std::error_code kind;
    if (entry->is_regular_file(kind)) found = name;
  }
  return found.empty() ? exact : (folder / found).string();
}

}  // namespace

TPalette ReadCUTPalette(TStream& stream) {
  auto invalid = [] { GraphicExError(InvalidPaletteMessage, {"CUT"}); };
  // 256 entries end within the first four blocks.
  std::vector<std::uint8_t> file(static_cast<std::size_t>(std::min<std::int64_t>(BytesLeft(stream), 4 * kPaletteBlock)));
  stream.ReadBuffer(file.data(), static_cast<std::int64_t>(file.size()));
  if (file.size() < 14) invalid();
  const std::size_t count = std::min<std::size_t>(LoadLE16(&file[12]) + 1u, 256);
  TPalette palette(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = PaletteEntryOffset(i);
    if (at + kEntryBytes > file.size()) invalid();
    palette[i] = TPaletteEntry{file[at], file[at + 2], file[at + 4], 0};
  }
  return palette;
}

void TCUTGraphic::LoadFile(const std::string& path) {
  struct TForget {
    std::string& file;
    ~TForget() { file.clear(); }
  } forget{paletteFile_};
  paletteFile_ = FindPaletteFile(path);
  TGraphicExGraphic::LoadFile(path);
}

bool TCUTGraphic::CanReadStream(TStream&) { return false; }

bool TCUTGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  SetPixelFormat(pd8Bit);
  const auto bytes = ReadHeaderBytes<4>(stream);
  TImageProperties& properties = imageProperties_;
  properties.Width = LoadLE16(&bytes[0]);
  properties.Height = LoadLE16(&bytes[2]);
  properties.ColorScheme = cmIndexed;
  properties.BitsPerSample = 8;
  properties.SamplesPerPixel = 1;
  properties.BitsPerPixel = 8;
  properties.Compression = cpRLE;
  return properties.Width > 0 && properties.Height > 0;
}

void TCUTGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {
  // Width, height and a reserved word.
  stream.SetPosition(basePosition_ + 6);
  const int width = static_cast<int>(imageProperties_.Width), height = static_cast<int>(imageProperties_.Height);
  progress.BeginRows(width);

  SetPixelFormat(pd8Bit);
  std::error_code error;
  if (!paletteFile_.empty() && std::filesystem::is_regular_file(paletteFile_, error)) {
    TFileStream palette(paletteFile_, fmOpenRead | fmShareDenyWrite);
    SetPalette(ReadCUTPalette(palette));
  } else {
    TColorManager& colors = ColorManager();
    colors.SetTargetModel(cmIndexed);
    colors.SetTargetBits(8);
    colors.SetTargetSamples(1);
    colors.TargetFlags = {};
    SetPalette(colors.BuildGrayPalette(false));
  }
  CheckImageSize(width, height);
  SetSize(width, height);

  // A well-formed row takes its length word, at most two bytes per pixel and its 0 byte;
  // what lies beyond all rows' reach is not read.
  const std::int64_t reach = static_cast<std::int64_t>(height) * (2 * static_cast<std::int64_t>(width) + 3);
  std::vector<std::uint8_t> packed(
      static_cast<std::size_t>(std::min<std::int64_t>({BytesLeft(stream), reach, INT32_MAX})));
  stream.ReadBuffer(packed.data(), static_cast<std::int64_t>(packed.size()));
  TCUTRLEDecoder decoder;
  std::uint8_t* source = packed.data();
  std::uint8_t* const end = packed.data() + packed.size();
  for (int y = 0; y < height; ++y) {
    std::uint8_t* dest = ScanLine(y);
    decoder.Decode(source, dest, static_cast<std::int32_t>(end - source), 0, static_cast<std::size_t>(width));
    progress.RowDone(y, height);
  }
}

}  // namespace driftpost
