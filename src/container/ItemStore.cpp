#include "container/ItemStore.h"

#include <cerrno>
#include <random>
#include <sys/stat.h>

#include "platform/AtomicFile.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Stream.h"
#include "platform/StringList.h"
#include "platform/TextUtils.h"

namespace driftpost {

namespace {

constexpr std::int32_t MaxId = 0x7FFFFFFF;

}  // namespace

const char* CategoryCaption(TItemCategory category) {
  switch (category) {
    case TItemCategory::Pictures: return "Pictures";
    case TItemCategory::Sounds: return "Sounds";
    case TItemCategory::Packages: return "Packages";
    case TItemCategory::Others: return "Other";
  }
  return "";
}

int TItemList::IndexOfId(std::int32_t id) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].Id == id) return static_cast<int>(i);
  return -1;
}

TItemStore::TItemStore(std::vector<std::string> pictureExtensions)
    : pictureExtensions_(std::move(pictureExtensions)) {
  for (const std::string& extension : pictureExtensions_) joinedExtensions_ += extension + "\r\n";
  // Identifiers start at a random point of each run, so that a URL kept from an earlier run
  // does not quietly name another file after a restart.
  std::random_device seed;
  lastId_ = static_cast<std::int32_t>(std::uniform_int_distribution<std::int32_t>(1, 1 << 30)(seed));
}

TItemCategory TItemStore::Classify(const std::string& path) const {
  std::string extension = ExtractFileExt(path);
  if (!extension.empty()) extension.erase(0, 1);
  extension = LowerCase(extension);
  if ((!extension.empty() && joinedExtensions_.find(extension) != std::string::npos) || extension == "gif")
    return TItemCategory::Pictures;
  if (extension == "wav" || extension == "aif" || extension == "au") return TItemCategory::Sounds;
  if (extension == "pkg") return TItemCategory::Packages;
  return TItemCategory::Others;
}

bool TItemStore::IdInUse(std::int32_t id) const {
  for (const TItemList& list : lists_)
    if (list.IndexOfId(id) >= 0) return true;
  return false;
}

std::int32_t TItemStore::NextId() {
  do lastId_ = lastId_ >= MaxId ? 1 : lastId_ + 1;
  while (IdInUse(lastId_));
  return lastId_;
}

const TItemEntry& TItemStore::AddItem(const std::string& path) {
  if (path.find_first_of("\r\n") != std::string::npos)
    throw EItemPathError(Format("Cannot share %s: its name holds a line break, which the share list cannot keep",
                                {EscapeControlCharacters(path)}));
  TItemCategory category = Classify(path);
  TItemList& list = lists_[static_cast<std::size_t>(category)];
  list.entries_.push_back(TItemEntry{path, NextId()});
  const TItemEntry& entry = list.entries_.back();
  if (OnItemAdded) OnItemAdded(category, entry);
  return list.entries_.back();
}

void TItemStore::LoadContainerFile(const std::string& fileName) {
  struct stat info;
  if (::lstat(fileName.c_str(), &info) != 0 && errno == ENOENT) return;
  try {
    TStringList lines;
    lines.SetText(ReadFileToString(fileName));
    for (const std::string& line : lines) AddItem(line);
  } catch (const std::exception& error) {
    // A damaged or unreadable share list must not keep the program from starting, nor may
    // the incomplete list replace it at exit.
    unloadedFile_ = fileName;
    loadFailure_ = Format("The share list %s could not be read (%s); it is kept as it is and not saved over",
                          {fileName, error.what()});
  }
}

std::string TItemStore::ContainerText() const {
  std::string text;
  for (TItemCategory category :
       {TItemCategory::Pictures, TItemCategory::Packages, TItemCategory::Sounds, TItemCategory::Others})
    for (const TItemEntry& entry : List(category).entries_) text += entry.Path + "\r\n";
  return text;
}

void TItemStore::SaveContainerFile(const std::string& fileName) const {
  if (!unloadedFile_.empty() && fileName == unloadedFile_)
    throw EFCreateError(Format("The share list %s was not saved: it could not be read at start-up, and saving "
                               "would replace it with an incomplete list",
                               {fileName}));
  WriteFileAtomically(fileName, ContainerText());
}

void TItemStore::Remove(TItemCategory category, const std::string& path) {
  auto& entries = lists_[static_cast<std::size_t>(category)].entries_;
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (AnsiSameText(it->Path, path)) {
      entries.erase(it);
      return;
    }
  }
  throw EListError::IndexOutOfBounds(-1);
}

void TItemStore::RemoveId(TItemCategory category, std::int32_t id) {
  auto& entries = lists_[static_cast<std::size_t>(category)].entries_;
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (it->Id == id) {
      entries.erase(it);
      return;
    }
  }
  throw EListError::IndexOutOfBounds(-1);
}

}  // namespace driftpost
