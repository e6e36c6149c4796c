// TIndexedList: distinct pointers in the order they were added, with membership, appending
// and removal in constant time (amortised), however many there are. A component's owned
// components and a server's clients are kept in one, so that a thousand clients leaving at
// once cost a thousand steps, not a million.
//
// Removal leaves a hole that later operations skip; the holes are squeezed out when they
// make up half the list or when an item is asked for by its position. The list only refers
// to the items; it owns none of them. Items are looked up by their address as a `Key`
// (a base class of T), so an item that is half destroyed can still be removed.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <vector>

namespace driftpost {

template <class T, class Key = T>
class TIndexedList {
 public:
  int Count() const { return static_cast<int>(slots_.size()); }
  bool Empty() const { return slots_.empty(); }
  bool Contains(const Key* item) const { return slots_.count(item) != 0; }

  // Appends `item` unless it is null or listed already; returns whether it was appended.
  bool Add(T* item) {
    if (!item || Contains(item)) return false;
    slots_.emplace(static_cast<const Key*>(item), items_.size());
    items_.push_back(item);
    return true;
  }

  // Takes `item` out; returns whether it was listed.
  bool Remove(const Key* item) {
    auto found = slots_.find(item);
    if (found == slots_.end()) return false;
    items_[found->second] = nullptr;
    slots_.erase(found);
    ++holes_;
    // The last position always holds an item, so Last() needs no search.
    while (!items_.empty() && !items_.back()) {
      items_.pop_back();
      --holes_;
    }
    if (visiting_ == 0 && holes_ > 16 && holes_ * 2 > items_.size()) Compact();
    return true;
  }

  // The item at `index` (0 to Count() - 1) in the order of adding, or nullptr outside.
  T* At(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    if (holes_ == 0) return items_[static_cast<std::size_t>(index)];
    if (visiting_ == 0) {
      Compact();
      return items_[static_cast<std::size_t>(index)];
    }
    for (T* item : items_)
      if (item && index-- == 0) return item;
    return nullptr;
  }

  T* Last() const { return items_.empty() ? nullptr : items_.back(); }

  // Calls `visit` for every item, the last one first. Items removed meanwhile are skipped;
  // items added meanwhile may or may not be visited.
  template <class Visit>
  void ForEachFromLast(Visit visit) {
    struct TVisiting {
      int& Depth;
      explicit TVisiting(int& depth) : Depth(depth) { ++Depth; }
      ~TVisiting() { --Depth; }
    } visiting(visiting_);
    for (std::size_t i = items_.size(); i-- > 0;) {
      if (i < items_.size() && items_[i]) visit(items_[i]);
    }
  }

 private:
  void Compact() const {
    std::size_t kept = 0;
    for (T* item : items_) {
      if (!item) continue;
      slots_[static_cast<const Key*>(item)] = kept;
      items_[kept++] = item;
    }
    items_.resize(kept);
    holes_ = 0;
  }

  // Invariant: slots_ maps every listed item to its position in items_; every other
  // position of items_ is a hole (nullptr), holes_ counts them, and the last position is
  // never one.
  mutable std::vector<T*> items_;
  mutable std::unordered_map<const Key*, std::size_t> slots_;
  mutable std::size_t holes_ = 0;
  int visiting_ = 0;  // ForEachFromLast is running: positions must not move
};

}  // namespace driftpost
