#include "picture/Metafile.h"

#include <algorithm>

#include "picture/MetafileHeader.h"
#include "picture/MetafilePlayer.h"
#include "picture/PictureLimits.h"
#include "platform/Format.h"
#include "platform/Stream.h"

namespace driftpost {

namespace {

constexpr const char* TooLargeMessage =
    "Cannot load image. The metafile's picture of %d by %d pixels is larger than pictures may be.";

}  // namespace

TMetafile::TMetafile() = default;
TMetafile::~TMetafile() = default;

TGraphicClass TMetafile::StaticClass() {
  static const TGraphicClassInfo info{"TMetafile", TGraphic::StaticClass(), &CreateGraphicOf<TMetafile>};
  return &info;
}

void TMetafile::LoadStream(TStream& stream) {
  const std::int64_t remaining = std::max<std::int64_t>(0, stream.Size() - stream.Position());
  std::vector<std::uint8_t> file(static_cast<std::size_t>(remaining));
  stream.ReadBuffer(file.data(), remaining);
  const std::uint8_t* data = file.data();
  const std::size_t size = file.size();

  const metafile::TMetafileHeader header = metafile::ReadMetafileHeader(data, size);
  const std::int64_t width = header.Width, height = header.Height;
  const bool enhanced = header.Kind == metafile::TMetafileKind::Enhanced;
  // The picture is drawn onto a bitmap of this size, so it must be one the limits allow.
  if (width > INT32_MAX || height > INT32_MAX ||
      !PictureSizeAllowed(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), pd32Bit))
    throw EInvalidGraphic(Format(TooLargeMessage, {width, height}));

  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  enhanced_ = enhanced;
  file_ = std::move(file);
  Changed();
}

void TMetafile::SaveStream(TStream& stream) {
  if (!file_.empty()) stream.WriteBuffer(file_.data(), static_cast<std::int64_t>(file_.size()));
}

void TMetafile::CopyFrom(const TGraphic* source) {
  if (source == this) return;
  if (!source) {
    width_ = height_ = 0;
    enhanced_ = false;
    file_.clear();
    Changed();
    return;
  }
  const auto* metafile = dynamic_cast<const TMetafile*>(source);
  if (!metafile) RaiseAssignError(source, ClassName());
  width_ = metafile->width_;
  height_ = metafile->height_;
  enhanced_ = metafile->enhanced_;
  file_ = metafile->file_;
  Changed();
}

void TMetafile::SetWidth(int width) {
  if (width < 0) throw EInvalidGraphicOperation("Ungültige Größe");
  width_ = width;
  Changed();
}

void TMetafile::SetHeight(int height) {
  if (height < 0) throw EInvalidGraphicOperation("Ungültige Größe");
  height_ = height;
  Changed();
}

void TMetafile::Draw(TBitmap& target, const TRect& rect) { PlayMetafile(file_, target, rect); }

}  // namespace driftpost
