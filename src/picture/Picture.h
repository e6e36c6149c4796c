// TPicture holds one picture of any class and loads a file by its extension through the
// picture container's own format list, TFileFormatsList: lower-case extension → class.
// That list is process-wide; it is created on first use with the four formats every picture
// container knows (wmf, emf, ico, bmp), receives the JPEG and format-registry registrations
// at start-up (FormatRegistry.h), and is freed at shut-down.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "picture/Graphic.h"

namespace driftpost {

class TBitmap;

struct TFileFormat {
  TGraphicClass GraphicClass = nullptr;
  std::string Extension;  // lower case, no dot
  std::string Description;
  int DescriptionResourceId = 0;
};

class TFileFormatsList {
 public:
  // Created with the four default records.
  TFileFormatsList();

  // Appends a record; the extension is stored lower-cased.
  void AddFormat(const std::string& extension, const std::string& description, TGraphicClass graphicClass,
                 int descriptionResourceId);
  // The class of the last record whose extension equals the lower-cased argument, or none:
  // a later registration wins.
  TGraphicClass FindByExtension(const std::string& extension) const;
  // The class of the last record whose class has this name, or none.
  TGraphicClass FindByClassName(const std::string& name) const;
  // Removes every record of the class and of the classes derived from it.
  void RemoveClass(TGraphicClass graphicClass);

  const std::vector<TFileFormat>& Formats() const { return formats_; }

 private:
  std::vector<TFileFormat> formats_;
};

// The process-wide list, created on first use.
TFileFormatsList& FileFormats();
// Frees the list at shut-down; a later use creates it afresh.
void ReleaseFileFormats();

class TPicture {
 public:
  using TChangeEvent = std::function<void(TPicture& sender)>;

  TPicture();
  ~TPicture();
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // Loads the file with the class registered for its extension. Raises EInvalidGraphic
  // "Unbekannte Bilddateierweiterung (.%s)" (the extension as the path spells it) when no
  // class is registered, and passes on the class's own errors; after any failure the
  // picture holds what it held before.
  void LoadFile(const std::string& path);

  // The current picture, or none.
  TGraphic* Graphic() const { return graphic_.get(); }
  int Width() const;
  int Height() const;

  // The current picture as a bitmap. A picture that is not a TBitmap (or derived from it) is
  // discarded first and replaced by a new, empty bitmap.
  TBitmap& Bitmap();

  // Copies another picture's graphic, or a graphic into a new instance of the graphic's own
  // class; none clears the picture.
  void CopyFrom(const TPicture* source);
  void CopyFrom(const TGraphic* source);

  static void RegisterFormat(const std::string& extension, const std::string& description,
                             TGraphicClass graphicClass);
  static void UnregisterClass(TGraphicClass graphicClass);

  TChangeEvent OnChange;
  TGraphic::TProgressEvent OnProgress;

 private:
  void Install(std::unique_ptr<TGraphic> graphic);
  void HookProgress(TGraphic& graphic);
  void Changed();

  std::unique_ptr<TGraphic> graphic_;
};

}  // namespace driftpost
