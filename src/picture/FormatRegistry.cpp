#include "picture/FormatRegistry.h"

#include <algorithm>

#include "picture/Bitmap.h"
#include "picture/JPEGImage.h"
#include "picture/Picture.h"
#include "picture/ReaderClasses.h"
#include "picture/RegisteredFormats.h"
#include "platform/Format.h"
#include "platform/StringList.h"
#include "platform/TextUtils.h"

namespace driftpost {

namespace {
std::unique_ptr<TFileFormatList> registry;
}

TFileFormatList::TFileFormatList() = default;

// Freeing the registry does not touch TPicture's list: at the end of the process the two
// are destroyed in no fixed order. FinalizePictureFormats does the orderly shut-down.
TFileFormatList::~TFileFormatList() = default;

TFileFormatList::TClassEntry* TFileFormatList::Attach(TGraphicClass graphicClass,
                                                      const std::string& commonDescription) {
  const int index = IndexOfClass(graphicClass);
  TClassEntry* entry;
  if (index < 0) {
    classes_.push_back(std::make_unique<TClassEntry>(TClassEntry{graphicClass, "", 0}));
    entry = classes_.back().get();
  } else {
    entry = classes_[static_cast<std::size_t>(index)].get();
  }
  if (!commonDescription.empty()) entry->Description = commonDescription;
  ++entry->Count;
  return entry;
}

void TFileFormatList::RemoveClassEntry(TClassEntry* entry) {
  std::erase_if(classes_, [entry](const std::unique_ptr<TClassEntry>& candidate) { return candidate.get() == entry; });
}

void TFileFormatList::RegisterExtension(const std::string& extension, const std::string& commonDescription,
                                        const std::string& individualDescription, bool replace,
                                        TGraphicClass graphicClass) {
  if (extension.empty()) return;
  const int index = IndexOfExtension(extension);
  TClassEntry* classEntry;
  if (index < 0) {
    classEntry = Attach(graphicClass, commonDescription);
    extensions_.push_back(TExtensionEntry{extension, individualDescription, classEntry});
  } else if (!replace) {
    throw EInvalidGraphic(Format("Attempt to register %s twice.", {extension}));
  } else {
    TExtensionEntry& entry = extensions_[static_cast<std::size_t>(index)];
    if (entry.ClassEntry->GraphicClass != graphicClass) {
      TClassEntry* old = entry.ClassEntry;
      entry.ClassEntry = Attach(graphicClass, commonDescription);
      if (--old->Count == 0) RemoveClassEntry(old);
    }
    classEntry = entry.ClassEntry;
  }
  TPicture::RegisterFormat(extension, individualDescription.empty() ? classEntry->Description : individualDescription,
                           graphicClass);
}

void TFileFormatList::UnregisterExtension(const std::string& extension, TGraphicClass graphicClass) {
  if (!extension.empty()) {
    const int index = IndexOfExtension(extension);
    if (index < 0) return;
    TClassEntry* classEntry = extensions_[static_cast<std::size_t>(index)].ClassEntry;
    if (--classEntry->Count == 0) {
      TPicture::UnregisterClass(classEntry->GraphicClass);
      RemoveClassEntry(classEntry);
    }
    extensions_.erase(extensions_.begin() + index);
    return;
  }
  const int classIndex = IndexOfClass(graphicClass);
  if (classIndex >= 0) {
    TClassEntry* classEntry = classes_[static_cast<std::size_t>(classIndex)].get();
    for (std::size_t i = extensions_.size(); i-- > 0 && classEntry->Count > 0;) {
      if (extensions_[i].ClassEntry != classEntry) continue;
      extensions_.erase(extensions_.begin() + static_cast<std::ptrdiff_t>(i));
      --classEntry->Count;
    }
    RemoveClassEntry(classEntry);
  }
  TPicture::UnregisterClass(graphicClass);
}

void TFileFormatList::ListExtensions(TStringList& list) const {
  list.Clear();
  for (const TExtensionEntry& entry : extensions_) list.Add(entry.Extension);
}

int TFileFormatList::IndexOfExtension(const std::string& extension) const {
  if (extension.empty()) return -1;
  for (std::size_t i = 0; i < extensions_.size(); ++i)
    if (SameText(extensions_[i].Extension, extension)) return static_cast<int>(i);
  return -1;
}

int TFileFormatList::IndexOfClass(TGraphicClass graphicClass) const {
  for (std::size_t i = 0; i < classes_.size(); ++i)
    if (classes_[i]->GraphicClass == graphicClass) return static_cast<int>(i);
  return -1;
}

void TFileFormatList::RemoveAll() {
  for (const auto& entry : classes_) TPicture::UnregisterClass(entry->GraphicClass);
  extensions_.clear();
  classes_.clear();
}

TFileFormatList& FormatRegistry() {
  InitializePictureFormats();
  return *registry;
}

bool PictureFormatsInitialized() { return registry != nullptr; }

void InitializePictureFormats() {
  if (registry) return;
  FileFormats();
  RegisterJPEGFormats();
  auto formats = std::make_unique<TFileFormatList>();
  for (const TRegisteredFormat& format : RegisteredFormats)
    formats->RegisterExtension(format.Extension, format.Common, format.Individual, false,
                               ReaderClassByName(format.ClassName));
  registry = std::move(formats);
}

void FinalizePictureFormats() {
  if (registry) {
    for (const char* name : {"TPSPGraphic", "TPSDGraphic", "TTargaGraphic", "TTIFFGraphic", "TSGIGraphic",
                             "TPCXGraphic", "TAutodeskGraphic", "TPCDGraphic", "TPPMGraphic", "TCUTGraphic",
                             "TRLAGraphic"})
      registry->UnregisterExtension("", ReaderClassByName(name));
    registry->UnregisterExtension("rle", TBitmap::StaticClass());
    registry->UnregisterExtension("dib", TBitmap::StaticClass());
    registry->UnregisterExtension("", ReaderClassByName("TPNGGraphic"));
    registry->RemoveAll();
    registry.reset();
  }
  UnregisterJPEGFormats();
  ReleaseFileFormats();
}

}  // namespace driftpost
