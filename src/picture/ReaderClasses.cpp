#include "picture/ReaderClasses.h"

#include <array>
#include <map>

#include "picture/Bitmap.h"
#include "picture/FormatRegistry.h"
#include "picture/GraphicExGraphic.h"
#include "picture/Icon.h"
#include "picture/JPEGImage.h"
#include "picture/Metafile.h"
#include "platform/Format.h"

namespace driftpost {

namespace {

struct TStandIn {
  TGraphicClassInfo Info;
  const char* DisplayName;  // the format's name in the reader's messages
};

std::unique_ptr<TGraphic> CreateStandIn(TGraphicClass graphicClass);

std::array<TStandIn, 13> standIns = {{
    {{"TTargaGraphic", nullptr, &CreateStandIn}, "Targa"},
    {{"TTIFFGraphic", nullptr, &CreateStandIn}, "TIF/TIFF"},
    {{"TEPSGraphic", nullptr, &CreateStandIn}, "EPS"},
    {{"TPCXGraphic", nullptr, &CreateStandIn}, "PCX"},
    {{"TRLAGraphic", nullptr, &CreateStandIn}, "RLA"},
    {{"TSGIGraphic", nullptr, &CreateStandIn}, "SGI"},
    {{"TPSDGraphic", nullptr, &CreateStandIn}, "PSD or PDD"},
    {{"TPPMGraphic", nullptr, &CreateStandIn}, "PPM"},
    {{"TAutodeskGraphic", nullptr, &CreateStandIn}, "Autodesk"},
    {{"TPCDGraphic", nullptr, &CreateStandIn}, "PCD"},
    {{"TCUTGraphic", nullptr, &CreateStandIn}, "CUT"},
    {{"TPSPGraphic", nullptr, &CreateStandIn}, "PSP"},
    {{"TPNGGraphic", nullptr, &CreateStandIn}, "PNG"},
}};

const TStandIn* FindStandIn(TGraphicClass graphicClass) {
  for (const TStandIn& standIn : standIns)
    if (&standIn.Info == graphicClass) return &standIn;
  return nullptr;
}

// A reader's picture whose reader is missing: it is a TGraphicExGraphic like every reader's
// picture, and refuses to load.
class TStandInReader final : public TGraphicExGraphic {
 public:
  explicit TStandInReader(const TStandIn& standIn) : standIn_(standIn) {}
  TGraphicClass ClassType() const override { return &standIn_.Info; }
  std::string ImageFormatName() const override { return standIn_.DisplayName; }
  void LoadStream(TStream&) override { GraphicExError(InvalidImageMessage, {standIn_.DisplayName}); }

 private:
  const TStandIn& standIn_;
};

std::unique_ptr<TGraphic> CreateStandIn(TGraphicClass graphicClass) {
  return std::make_unique<TStandInReader>(*FindStandIn(graphicClass));
}

std::map<std::string, TGraphicClass>& Classes() {
  static std::map<std::string, TGraphicClass> classes = [] {
    std::map<std::string, TGraphicClass> initial;
    for (TGraphicClass platformClass :
         {TBitmap::StaticClass(), TIcon::StaticClass(), TMetafile::StaticClass(), TJPEGImage::StaticClass()})
      initial[platformClass->Name] = platformClass;
    for (TStandIn& standIn : standIns) {
      standIn.Info.Parent = TGraphicExGraphic::StaticClass();
      initial[standIn.Info.Name] = &standIn.Info;
    }
    return initial;
  }();
  return classes;
}

}  // namespace

TGraphicClass ReaderClassByName(const std::string& name) {
  const auto found = Classes().find(name);
  return found == Classes().end() ? nullptr : found->second;
}

void InstallReaderClass(TGraphicClass readerClass) {
  const bool wasInitialized = PictureFormatsInitialized();
  if (wasInitialized) FinalizePictureFormats();
  Classes()[readerClass->Name] = readerClass;
  if (wasInitialized) InitializePictureFormats();
}

bool IsStandInReaderClass(TGraphicClass graphicClass) { return FindStandIn(graphicClass) != nullptr; }

}  // namespace driftpost
