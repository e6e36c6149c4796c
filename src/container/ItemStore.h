// The shared-item store: the files the user shares, in four ordered lists by category, each
// entry a full local path with its item identifier. It classifies a path by its extension,
// reads the share list from the ".container" file at start-up and writes it back at exit.
// The Container window observes added entries to make its tree nodes; the web front reads
// the lists and looks entries up by identifier.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Exception.h"

namespace driftpost {

enum class TItemCategory { Pictures = 0, Sounds = 1, Packages = 2, Others = 3 };

// A path the store refuses to share: one whose name holds a line break, which the share
// list file cannot keep as one entry.
class EItemPathError : public Exception {
 public:
  using Exception::Exception;
};

constexpr std::array<TItemCategory, 4> AllCategories = {
    TItemCategory::Pictures, TItemCategory::Sounds, TItemCategory::Packages, TItemCategory::Others};

// The caption of a category in the Container window's tree ("Other" is singular there).
const char* CategoryCaption(TItemCategory category);

struct TItemEntry {
  std::string Path;
  std::int32_t Id;  // positive, unique among the live entries of all four lists
};

class TItemList {
 public:
  int Count() const { return static_cast<int>(entries_.size()); }
  const TItemEntry& operator[](int index) const { return entries_.at(static_cast<std::size_t>(index)); }
  const std::string& Path(int index) const { return (*this)[index].Path; }
  std::int32_t Id(int index) const { return (*this)[index].Id; }
  // Position of the first entry with this identifier, or -1.
  int IndexOfId(std::int32_t id) const;

 private:
  friend class TItemStore;
  std::vector<TItemEntry> entries_;
};

class TItemStore {
 public:
  // `pictureExtensions`: every extension the picture pipeline reads, lower case, no dot.
  explicit TItemStore(std::vector<std::string> pictureExtensions);

  TItemCategory Classify(const std::string& path) const;

  // Classifies and appends one entry; duplicates are allowed and get their own identifier.
  // A path holding CR or LF is refused with EItemPathError.
  const TItemEntry& AddItem(const std::string& path);

  // Adds every line of the file in file order. Any failure ends the load and keeps what was
  // added so far; LoadFailure() then says what went wrong, and that file is not saved over
  // (it may hold entries the store lacks). A missing file adds nothing.
  void LoadContainerFile(const std::string& fileName);
  // Empty, or the sentence that says which share list could not be read, and why.
  const std::string& LoadFailure() const { return loadFailure_; }
  // Writes Pictures, Packages, Sounds, Others, each path followed by CR LF. The file always
  // holds either the old or the complete new list. Raises EFCreateError on failure, and
  // when this file is the one that could not be loaded.
  void SaveContainerFile(const std::string& fileName) const;
  std::string ContainerText() const;

  // Removes the first entry of the category whose path equals `path` ignoring letter case;
  // raises EListError with -1 when none matches.
  void Remove(TItemCategory category, const std::string& path);
  // Removes the entry with this identifier; raises EListError with -1 when none has it.
  void RemoveId(TItemCategory category, std::int32_t id);

  const TItemList& List(TItemCategory category) const { return lists_[static_cast<std::size_t>(category)]; }
  const std::vector<std::string>& PictureExtensions() const { return pictureExtensions_; }

  // Told about every added entry, in order, after it has been appended.
  std::function<void(TItemCategory, const TItemEntry&)> OnItemAdded;

 private:
  std::int32_t NextId();
  bool IdInUse(std::int32_t id) const;

  std::vector<std::string> pictureExtensions_;
  std::string joinedExtensions_;  // every extension followed by CR LF
  std::array<TItemList, 4> lists_;
  std::int32_t lastId_;
  std::string loadFailure_;
  std::string unloadedFile_;  // the share list whose load failed
};

}  // namespace driftpost
