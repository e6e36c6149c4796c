#include "readers/SGIGraphic.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "picture/ColorManager.h"
#include "readers/GraphicCompression.h"
#include "readers/ReaderSupport.h"

namespace driftpost {
namespace {

struct TSGIHeader {
  static constexpr std::size_t Size = 512;

  std::uint16_t Magic;  // 474
  std::uint8_t Storage;  // 1: run-length packed
  std::uint8_t BytesPerSample;
  std::uint16_t Dimension;
  std::uint16_t XSize, YSize, ZSize;  // width, height, channels

  static TSGIHeader Read(TStream& stream) {
    // The colour map kind at 104 is not used.
    const auto bytes = ReadHeaderBytes<Size>(stream);
    return TSGIHeader{LoadBE16(&bytes[0]), bytes[2],           bytes[3],           LoadBE16(&bytes[4]),
                      LoadBE16(&bytes[6]), LoadBE16(&bytes[8]), LoadBE16(&bytes[10])};
  }

  bool Valid() const {
    return Magic == 474 && (BytesPerSample == 1 || BytesPerSample == 2) && Dimension >= 1 && Dimension <= 3 &&
           XSize > 0 && YSize > 0 && ZSize >= 1 && ZSize <= 4;
  }
};

// Where the samples of each channel's rows are, and reading them into a channel buffer.
class TSGIRows {
 public:
  TSGIRows(const TBitmap& picture, TStream& stream, std::int64_t base, const TSGIHeader& header)
      : picture_(picture), stream_(stream), base_(base), header_(header), streamSize_(stream.Size()),
        channelBytes_(std::size_t{header.XSize} * header.BytesPerSample) {
    if (header.Storage != 1) return;
    // Two tables of height × channels big-endian words follow the header: the offsets of
    // the packed rows, then their lengths.
    const std::size_t entries = std::size_t{header.YSize} * header.ZSize;
    if (BytesLeft(stream) < static_cast<std::int64_t>(entries * 8)) throw EReadError();
    std::vector<std::uint8_t> tables(entries * 8);
    stream.ReadBuffer(tables.data(), static_cast<std::int64_t>(tables.size()));
    offsets_.resize(entries);
    lengths_.resize(entries);
    for (std::size_t i = 0; i < entries; ++i) {
      offsets_[i] = LoadBE32(&tables[4 * i]);
      lengths_[i] = LoadBE32(&tables[4 * (entries + i)]);
    }
    decoder_ = std::make_unique<TSGIRLEDecoder>(static_cast<std::uint8_t>(8 * header.BytesPerSample));
    // A well-formed packed row takes at most a header and a sample per sample, and its
    // terminator; longer stated lengths hold nothing this row needs.
    packed_.resize((2 * std::size_t{header.XSize} + 1) * header.BytesPerSample);
  }

  std::size_t ChannelBytes() const { return channelBytes_; }

  // Stored row `row` of channel `channel` into `out` (ChannelBytes() bytes).
  void Read(unsigned channel, unsigned row, std::uint8_t* out) {
    const std::size_t index = std::size_t{channel} * header_.YSize + row;
    if (!decoder_) {
      stream_.SetPosition(base_ + static_cast<std::int64_t>(TSGIHeader::Size + index * channelBytes_));
      stream_.ReadBuffer(out, static_cast<std::int64_t>(channelBytes_));
      return;
    }
    const std::int64_t start = base_ + offsets_[index];
    if (start >= streamSize_) picture_.RaiseInvalidImage();
    // Lengths count bytes, though some writers count samples: reading the larger reach is
    // harmless, as a row ends at its terminator.
    const std::int64_t length =
        std::min<std::int64_t>({std::int64_t{lengths_[index]} * header_.BytesPerSample, streamSize_ - start,
                                static_cast<std::int64_t>(packed_.size())});
    stream_.SetPosition(start);
    stream_.ReadBuffer(packed_.data(), length);
    std::fill(out, out + channelBytes_, 0);
    std::uint8_t* source = packed_.data();
    decoder_->Decode(source, out, static_cast<std::int32_t>(length), 0, channelBytes_);
  }

 private:
  const TBitmap& picture_;  // whose invalid-format message a bad offset raises
  TStream& stream_;
  std::int64_t base_;
  TSGIHeader header_;
  std::int64_t streamSize_;
  std::size_t channelBytes_;
  std::vector<std::uint32_t> offsets_;
  std::vector<std::uint32_t> lengths_;
  std::unique_ptr<TSGIRLEDecoder> decoder_;
  std::vector<std::uint8_t> packed_;
};

}  // namespace

bool TSGIGraphic::CanReadStream(TStream& stream) {
  TStreamPositionGuard guard(stream);
  if (BytesLeft(stream) <= static_cast<std::int64_t>(TSGIHeader::Size)) return false;
  return TSGIHeader::Read(stream).Valid();
}

bool TSGIGraphic::ReadProperties(TStream& stream, int imageIndex) {
  TGraphicExGraphic::ReadProperties(stream, imageIndex);
  const TSGIHeader header = TSGIHeader::Read(stream);
  if (!header.Valid()) return false;
  TImageProperties& properties = imageProperties_;
  properties.Options = opBigEndian;
  properties.BitsPerSample = static_cast<std::uint8_t>(8 * header.BytesPerSample);
  properties.Width = header.XSize;
  properties.Height = header.YSize;
  properties.SamplesPerPixel = static_cast<std::uint8_t>(header.ZSize);
  properties.BitsPerPixel = static_cast<std::uint8_t>(properties.BitsPerSample * properties.SamplesPerPixel);
  properties.ColorScheme = header.ZSize == 3 ? cmRGB : header.ZSize == 4 ? cmRGBA : cmIndexed;
  properties.Compression = header.Storage == 1 ? cpRLE : cpNone;
  return true;
}

void TSGIGraphic::LoadImage(TStream& stream, TLoadProgress& progress) {

  const TSGIHeader header = TSGIHeader::Read(stream);
  const TImageProperties& properties = imageProperties_;
  // Grey files, with or without alpha, show channel 0 alone as 8-bit grey levels.
  const bool color = header.ZSize >= 3;
  const unsigned channels = color ? header.ZSize : 1;
  TColorManager& colors = ColorManager();
  colors.SourceFlags = {cfSwapBytes};
  colors.SetSourceBits(properties.BitsPerSample);
  colors.SetTargetBits(8);
  colors.SetSourceSamples(channels);
  colors.SetTargetSamples(channels);
  colors.SetSourceModel(properties.ColorScheme);
  colors.SetTargetModel(properties.ColorScheme == cmRGB ? cmBGR : properties.ColorScheme == cmRGBA ? cmBGRA : cmIndexed);
  SetPixelFormat(colors.BitmapDepth(TColorSide::Target));
  if (!color) SetPalette(colors.BuildGrayPalette(false));

  const int width = header.XSize, height = header.YSize;
  CheckImageSize(width, height);
  SetSize(width, height);

  TSGIRows rows(*this, stream, basePosition_, header);
  std::vector<std::vector<std::uint8_t>> buffers(channels, std::vector<std::uint8_t>(rows.ChannelBytes()));
  const std::uint8_t* planes[4] = {};
  for (unsigned c = 0; c < channels; ++c) planes[c] = buffers[c].data();

  progress.BeginRows(width);
  for (int r = 0; r < height; ++r) {
    for (unsigned c = 0; c < channels; ++c) rows.Read(c, static_cast<unsigned>(r), buffers[c].data());
    colors.TranslateRow(std::span<const std::uint8_t* const>(planes, channels), ScanLine(height - 1 - r),
                        static_cast<std::uint32_t>(width));
    progress.RowDone(r, height);
  }
}

}  // namespace driftpost
