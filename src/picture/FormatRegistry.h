// The format registry, TFileFormatList, and the start-up and shut-down of the picture
// formats. The registry records every readable extension with its descriptions and class,
// keeps one entry per class with the number of extensions that use it, forwards each
// registration to TPicture's format list, and hands the full list of its extensions to the
// item store, which counts a file as a picture by them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "picture/Graphic.h"

namespace driftpost {

class TStringList;

class TFileFormatList {
 public:
  struct TClassEntry {
    TGraphicClass GraphicClass = nullptr;
    std::string Description;  // the common description
    int Count = 0;            // extension entries referring to this entry
  };
  struct TExtensionEntry {
    std::string Extension;  // as registered: lower case, no dot
    std::string Description;  // the individual description, may be empty
    TClassEntry* ClassEntry = nullptr;
  };

  TFileFormatList();
  ~TFileFormatList();
  TFileFormatList(const TFileFormatList&) = delete;
  TFileFormatList& operator=(const TFileFormatList&) = delete;

  // Registers an extension for a class and with TPicture. Raises EInvalidGraphic
  // "Attempt to register %s twice." for a registered extension unless `replace` is set; an
  // empty extension does nothing.
  void RegisterExtension(const std::string& extension, const std::string& commonDescription,
                         const std::string& individualDescription, bool replace, TGraphicClass graphicClass);
  // With an extension: removes that extension (and the class, with TPicture, when it was its
  // last). With an empty one: removes the class with all its extensions.
  void UnregisterExtension(const std::string& extension, TGraphicClass graphicClass);
  // Replaces the list's content by every registered extension, in registration order.
  void ListExtensions(TStringList& list) const;
  // Position of the extension (ignoring case), -1 when missing or empty.
  int IndexOfExtension(const std::string& extension) const;
  // Position of the class entry of exactly this class, -1 when missing.
  int IndexOfClass(TGraphicClass graphicClass) const;
  // Unregisters every class from TPicture and empties both lists.
  void RemoveAll();

  const std::vector<TExtensionEntry>& Extensions() const { return extensions_; }
  const std::vector<std::unique_ptr<TClassEntry>>& Classes() const { return classes_; }

 private:
  TClassEntry* Attach(TGraphicClass graphicClass, const std::string& commonDescription);
  void RemoveClassEntry(TClassEntry* entry);

  std::vector<TExtensionEntry> extensions_;
  std::vector<std::unique_ptr<TClassEntry>> classes_;
};

// The process-wide registry; the picture formats are set up on first use.
TFileFormatList& FormatRegistry();

// Start-up: TPicture's list with its four defaults, the JPEG registrations, then the
// registry with the 39 registered formats. Does nothing when already done.
void InitializePictureFormats();
// Shut-down: the registry unregisters its classes in a fixed order and is freed, the JPEG
// class unregisters itself, and TPicture's list is freed. A later use sets them up afresh.
void FinalizePictureFormats();
bool PictureFormatsInitialized();

}  // namespace driftpost
