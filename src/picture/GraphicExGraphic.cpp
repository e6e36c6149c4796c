#include "picture/GraphicExGraphic.h"

#include "picture/ColorManager.h"
#include "platform/Stream.h"

namespace driftpost {

void GraphicExError(const std::string& message) { throw EInvalidGraphic(message); }

void GraphicExError(const std::string& pattern, std::initializer_list<FormatArg> args) {
  throw EInvalidGraphic(Format(pattern, args));
}

TGraphicExGraphic::TGraphicExGraphic() : colorManager_(std::make_unique<TColorManager>()) {}

TGraphicExGraphic::~TGraphicExGraphic() = default;

TGraphicClass TGraphicExGraphic::StaticClass() {
  static const TGraphicClassInfo info{"TGraphicExGraphic", TBitmap::StaticClass(), nullptr,
                                      &TGraphicExGraphic::CanReadStream};
  return &info;
}

void TGraphicExGraphic::CopyFrom(const TGraphic* source) {
  if (const auto* reader = dynamic_cast<const TGraphicExGraphic*>(source)) imageProperties_ = reader->imageProperties_;
  TBitmap::CopyFrom(source);
}

bool TGraphicExGraphic::CanReadFile(TGraphicClass readerClass, const std::string& path) {
  TFileStream stream(path, fmOpenRead | fmShareDenyWrite);
  return readerClass && readerClass->CanReadStream && readerClass->CanReadStream(stream);
}

bool TGraphicExGraphic::CanReadStream(TStream&) { return false; }

bool TGraphicExGraphic::ReadProperties(TStream&, int) {
  imageProperties_ = TImageProperties{};
  return false;
}

void TGraphicExGraphic::LoadStream(TStream& stream) {
  // stream_ names the stream for the length of this load only, however it ends.
  struct TCurrentStream {
    TStream*& slot;
    ~TCurrentStream() { slot = nullptr; }
  } current{stream_};
  stream_ = &stream;

  FreeImage();
  basePosition_ = stream.Position();
  if (!ReadProperties(stream, 0)) RaiseInvalidImage();
  stream.SetPosition(basePosition_);
  TLoadProgress progress(*this, progressRect_);
  progress.Begin("Preparing...");
  LoadImage(stream, progress);
}

void TGraphicExGraphic::LoadImage(TStream&, TLoadProgress&) { RaiseInvalidImage(); }

}  // namespace driftpost
