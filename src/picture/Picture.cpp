#include "picture/Picture.h"

#include <algorithm>

#include "picture/Bitmap.h"
#include "picture/FormatRegistry.h"
#include "picture/Icon.h"
#include "picture/Metafile.h"
#include "platform/Format.h"
#include "platform/TextUtils.h"

namespace driftpost {

namespace {
std::unique_ptr<TFileFormatsList> fileFormats;
}

TFileFormatsList::TFileFormatsList() {
  AddFormat("wmf", "Metadateien", TMetafile::StaticClass(), 0);
  AddFormat("emf", "Erweiterte Metadateien", TMetafile::StaticClass(), 0);
  AddFormat("ico", "Symbole", TIcon::StaticClass(), 0);
  AddFormat("bmp", "Bitmaps", TBitmap::StaticClass(), 0);
}

void TFileFormatsList::AddFormat(const std::string& extension, const std::string& description,
                                 TGraphicClass graphicClass, int descriptionResourceId) {
  formats_.push_back(TFileFormat{graphicClass, LowerCase(extension), description, descriptionResourceId});
}

TGraphicClass TFileFormatsList::FindByExtension(const std::string& extension) const {
  const std::string wanted = LowerCase(extension);
  for (auto format = formats_.rbegin(); format != formats_.rend(); ++format)
    if (format->Extension == wanted) return format->GraphicClass;
  return nullptr;
}

TGraphicClass TFileFormatsList::FindByClassName(const std::string& name) const {
  for (auto format = formats_.rbegin(); format != formats_.rend(); ++format)
    if (name == format->GraphicClass->Name) return format->GraphicClass;
  return nullptr;
}

void TFileFormatsList::RemoveClass(TGraphicClass graphicClass) {
  std::erase_if(formats_, [&](const TFileFormat& format) { return format.GraphicClass->InheritsFrom(graphicClass); });
}

TFileFormatsList& FileFormats() {
  if (!fileFormats) fileFormats = std::make_unique<TFileFormatsList>();
  return *fileFormats;
}

void ReleaseFileFormats() { fileFormats.reset(); }

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::LoadFile(const std::string& path) {
  InitializePictureFormats();
  std::string extension = ExtractFileExt(path);
  if (!extension.empty()) extension.erase(0, 1);
  const TGraphicClass graphicClass = FileFormats().FindByExtension(extension);
  if (!graphicClass) throw EInvalidGraphic(Format("Unbekannte Bilddateierweiterung (.%s)", {extension}));
  std::unique_ptr<TGraphic> graphic = graphicClass->NewInstance();
  HookProgress(*graphic);
  graphic->LoadFile(path);
  Install(std::move(graphic));
}

int TPicture::Width() const { return graphic_ ? graphic_->Width() : 0; }

int TPicture::Height() const { return graphic_ ? graphic_->Height() : 0; }

TBitmap& TPicture::Bitmap() {
  if (auto* bitmap = dynamic_cast<TBitmap*>(graphic_.get())) return *bitmap;
  graphic_.reset();
  auto bitmap = std::make_unique<TBitmap>();
  TBitmap& result = *bitmap;
  HookProgress(result);
  Install(std::move(bitmap));
  return result;
}

void TPicture::CopyFrom(const TPicture* source) {
  CopyFrom(source ? source->Graphic() : nullptr);
}

void TPicture::CopyFrom(const TGraphic* source) {
  if (!source) {
    graphic_.reset();
    Changed();
    return;
  }
  std::unique_ptr<TGraphic> graphic = source->ClassType()->NewInstance();
  graphic->CopyFrom(source);
  HookProgress(*graphic);
  Install(std::move(graphic));
}

void TPicture::RegisterFormat(const std::string& extension, const std::string& description,
                              TGraphicClass graphicClass) {
  FileFormats().AddFormat(extension, description, graphicClass, 0);
}

void TPicture::UnregisterClass(TGraphicClass graphicClass) { FileFormats().RemoveClass(graphicClass); }

void TPicture::HookProgress(TGraphic& graphic) {
  graphic.OnProgress = [this](TGraphic& sender, TProgressStage stage, std::uint8_t percent, bool redrawNow,
                              const TRect& rect, const std::string& message) {
    if (OnProgress) OnProgress(sender, stage, percent, redrawNow, rect, message);
  };
}

void TPicture::Install(std::unique_ptr<TGraphic> graphic) {
  graphic_ = std::move(graphic);
  graphic_->OnChange = [this](TGraphic&) { Changed(); };
  Changed();
}

void TPicture::Changed() {
  if (OnChange) OnChange(*this);
}

}  // namespace driftpost
