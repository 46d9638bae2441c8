// The keyed collection: items in insertion order, by position from 1, optionally under a
// text key compared without regard to letter case. A missing key or position raises
// error 5; a second item under a key raises 457. Items are shared references.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/Error.h"
#include "runtime/Text.h"

namespace varn {

template <class T>
class Collection {
 public:
  using Item_t = std::shared_ptr<T>;

  int32_t Count() const { return static_cast<int32_t>(mItems.size()); }

  // Adds at the end, or before/after the given position (from 1) when one is named; naming
  // both is an invalid call.
  void Add(Item_t item, const std::optional<std::string>& sKey = std::nullopt,
           std::optional<int32_t> lBefore = std::nullopt, std::optional<int32_t> lAfter = std::nullopt) {
    if (lBefore && lAfter) RaiseError(errInvalidCall);
    if (sKey && mIndex.count(FoldCase(*sKey))) RaiseError(errDuplicateKey);
    size_t nAt = mItems.size();
    if (lBefore) nAt = Position(*lBefore);
    else if (lAfter) nAt = Position(*lAfter) + 1;
    mItems.insert(mItems.begin() + static_cast<std::ptrdiff_t>(nAt), Entry{std::move(item), sKey});
    if (sKey) mIndex.emplace(FoldCase(*sKey), mItems[nAt].item);
  }

  const Item_t& Item(int32_t lIndex) const { return mItems[Position(lIndex)].item; }
  const Item_t& Item(const std::string& sKey) const {
    auto it = mIndex.find(FoldCase(sKey));
    if (it == mIndex.end()) RaiseError(errInvalidCall);
    return it->second;
  }
  bool Exists(const std::string& sKey) const { return mIndex.count(FoldCase(sKey)) != 0; }

  void Remove(int32_t lIndex) {
    size_t n = Position(lIndex);
    if (mItems[n].sKey) mIndex.erase(FoldCase(*mItems[n].sKey));
    mItems.erase(mItems.begin() + static_cast<std::ptrdiff_t>(n));
  }
  void Remove(const std::string& sKey) {
    std::string sFolded = FoldCase(sKey);
    for (size_t n = 0; n < mItems.size(); ++n) {
      if (mItems[n].sKey && FoldCase(*mItems[n].sKey) == sFolded) return Remove(static_cast<int32_t>(n + 1));
    }
    RaiseError(errInvalidCall);
  }

  auto begin() const { return ItemIterator{mItems.begin()}; }
  auto end() const { return ItemIterator{mItems.end()}; }

 private:
  struct Entry {
    Item_t item;
    std::optional<std::string> sKey;
  };
  struct ItemIterator {
    typename std::vector<Entry>::const_iterator it;
    const Item_t& operator*() const { return it->item; }
    ItemIterator& operator++() { ++it; return *this; }
    bool operator!=(const ItemIterator& other) const { return it != other.it; }
  };

  size_t Position(int32_t lIndex) const {
    if (lIndex < 1 || lIndex > Count()) RaiseError(errInvalidCall);
    return static_cast<size_t>(lIndex - 1);
  }

  std::vector<Entry> mItems;
  std::unordered_map<std::string, Item_t> mIndex;
};

}  // namespace varn
