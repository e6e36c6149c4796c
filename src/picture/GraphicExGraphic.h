// TGraphicExGraphic: the base of every picture reader. A reader is a TBitmap that fills its
// TImageProperties from the file's header (ReadProperties), converts the file's rows with
// its own colour manager, and decodes them into ScanLine(y). The messages and the raising
// routines every reader reports its errors with live here too.
//
// Every load opens the same way, here in LoadStream: the image is released, the stream's
// position is remembered in basePosition_, ReadProperties(stream, 0) must accept the header
// (else the format's invalid-image message is raised), the stream goes back to the base and
// "Preparing..." is reported. Then the reader's LoadImage does the format's own part: set
// up ColorManager(); SetPixelFormat, SetPalette; CheckImageSize(width, height) before
// allocating anything, then SetSize; decode each row into ScanLine(y), reporting progress.
//
// A reader's class declares its class record with DRIFTPOST_READER_CLASS (below).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "picture/Bitmap.h"
#include "picture/ImageProperties.h"
#include "picture/LoadProgress.h"
#include "platform/Format.h"

namespace driftpost {

class TColorManager;

// The readers' messages; %s is the format's display name ("PCX", "TIF/TIFF", ...).
constexpr const char* InvalidColorFormatMessage = "Invalid color format in %s file.";
constexpr const char* StreamReadErrorMessage = "Stream read error in %s file.";
constexpr const char* UnsupportedFeatureMessage = "Cannot load image. %s not supported for %s files.";
constexpr const char* UnsupportedCompressionText = "The compression scheme is";
constexpr const char* CRCErrorMessage = "Cannot load image. CRC error found in %s file.";
constexpr const char* CompressionErrorMessage = "Cannot load image. Compression error found in %s file.";
constexpr const char* ExtraCompressedDataMessage = "Cannot load image. Extra compressed data found in %s file.";
constexpr const char* InvalidPaletteMessage = "Cannot load image. Palette in %s file is invalid.";
constexpr const char* UnknownCriticalChunkMessage = "Cannot load PNG image. Unexpected but critical chunk detected.";

// Raise EInvalidGraphic with a message, or with a message formatted with arguments.
[[noreturn]] void GraphicExError(const std::string& message);
[[noreturn]] void GraphicExError(const std::string& pattern, std::initializer_list<FormatArg> args);

class TGraphicExGraphic : public TBitmap {
 public:
  TGraphicExGraphic();
  ~TGraphicExGraphic() override;

  // Abstract: the class reference has no constructor of its own.
  static TGraphicClass StaticClass();
  TGraphicClass ClassType() const override { return StaticClass(); }

  // A reader's picture copies the other reader's image properties too.
  void CopyFrom(const TGraphic* source) override;

  // Whether the reader class recognises the file: opens it read-only and asks the class's
  // CanReadStream. False for a class without one.
  static bool CanReadFile(TGraphicClass readerClass, const std::string& path);
  // The base recognises nothing.
  static bool CanReadStream(TStream& stream);

  // Clears the image properties (file gamma 1.0) and returns false. Readers call it first,
  // then fill the properties from the header and return true when the header is valid.
  virtual bool ReadProperties(TStream& stream, int imageIndex);

  // The common opening of a load, then LoadImage.
  void LoadStream(TStream& stream) override;

  TColorManager& ColorManager() { return *colorManager_; }
  TImageProperties& ImageProperties() { return imageProperties_; }
  const TImageProperties& ImageProperties() const { return imageProperties_; }

 protected:
  // The format's part of a load. The stream stands at the base position, the image
  // properties hold the accepted header and `progress` has begun "Preparing...". The base
  // refuses every file with the invalid-image message.
  virtual void LoadImage(TStream& stream, TLoadProgress& progress);

  std::unique_ptr<TColorManager> colorManager_;
  TImageProperties imageProperties_;
  std::int64_t basePosition_ = 0;  // where the current load began
  TStream* stream_ = nullptr;      // the stream being read, during a load only
  TRect progressRect_;             // the rows reported with the last progress event
};

}  // namespace driftpost

// The class record of a reader class `Reader` derived from `Parent`: its name, its parent's
// record, how to make an instance, and its CanReadStream. Put inside the class body.
#define DRIFTPOST_READER_CLASS(Reader, Parent)                                                          \
 public:                                                                                                \
  static ::driftpost::TGraphicClass StaticClass() {                                                    \
    static const ::driftpost::TGraphicClassInfo info{#Reader, Parent::StaticClass(),                   \
                                                     &::driftpost::CreateGraphicOf<Reader>, &Reader::CanReadStream}; \
    return &info;                                                                                       \
  }                                                                                                     \
  ::driftpost::TGraphicClass ClassType() const override { return StaticClass(); }
