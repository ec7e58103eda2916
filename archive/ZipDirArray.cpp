#include "archive/ZipDirArray.h"

#include <algorithm>

#include "archive/ZipCollation.h"
#include "archive/ZipException.h"
#include "archive/ZipMasks.h"

namespace krevo::archive {

void TZipDirArray::SetCount(int n) {
  keysValid_ = false;
  if (n <= 0) {
    items_.clear();
    items_.shrink_to_fit();
    count_ = 0;
    return;
  }
  if (n > Allocated()) {
    step_ = std::min(step_ * 2, kMaxStep);
    items_.resize(static_cast<std::size_t>(std::max(Allocated() + step_, n)));
  }
  // Slots given up and taken again start clean.
  for (int i = count_; i < n; ++i) items_[static_cast<std::size_t>(i)] = TDirItem{};
  count_ = n;
}

void TZipDirArray::ClearItems() {
  SetCount(0);
  index_.Clear();
}

void TZipDirArray::GetItem(int i, TDirItem& out) const {
  if (i < 0 || i >= count_) throw EZipException(2);
  out = items_[static_cast<std::size_t>(i)];
}

TDirItem& TZipDirArray::ItemPtr(int i) {
  if (i < 0 || i >= count_) throw EZipException(3);
  return items_[static_cast<std::size_t>(i)];
}

const TDirItem& TZipDirArray::ItemPtr(int i) const {
  if (i < 0 || i >= count_) throw EZipException(3);
  return items_[static_cast<std::size_t>(i)];
}

void TZipDirArray::SetItem(int i, const TDirItem& item) {
  if (i < 0 || i >= count_) throw EZipException(1);
  std::string key = TZipHashedStringList::LowerAscii(item.name);
  if (i < index_.Count())
    index_.Put(i, key);
  else if (i == index_.Count())
    index_.Add(key);
  else
    throw EZipException(58);
  items_[static_cast<std::size_t>(i)] = item;
  keysValid_ = false;
}

void TZipDirArray::RenameItem(int i, const std::string& name) {
  TDirItem& item = ItemPtr(i);
  std::string oldKey = TZipHashedStringList::LowerAscii(item.name);
  std::string newKey = TZipHashedStringList::LowerAscii(name);
  if (i < index_.Count() && index_[i] == oldKey) {
    index_.Put(i, newKey);
  } else {
    int pos = index_.IndexOf(oldKey);
    if (pos == i) {
      index_.Put(i, newKey);
    } else if (pos < 0 || (oldKey.empty() && i == index_.Count())) {
      // A fresh item (its empty name not yet indexed) is appended, also when
      // an earlier entry had an empty name: such archives are accepted.
      index_.Add(newKey);
    } else {
      throw EZipException(59);
    }
  }
  item.name = name;
  keysValid_ = false;
}

void TZipDirArray::DeleteItem(int i) {
  if (i < 0 || i >= count_) throw EZipException(4);
  items_.erase(items_.begin() + i);
  --count_;
  keysValid_ = false;
  if (i < index_.Count()) index_.Delete(i);
}

const std::vector<int>& TZipDirArray::MaskCandidates(const std::string& mask) {
  if (!keysValid_ || keysGeneration_ != TZipCollation::Generation()) {
    keys_.clear();
    for (int i = 0; i < count_; ++i) {
      auto [whole, own] = ItemMatchKeys(items_[static_cast<std::size_t>(i)].name);
      keys_[whole].push_back(i);
      // A name with a separator has one in its whole key, never in its own.
      if (!own.empty()) keys_[own].push_back(i);
    }
    keysValid_ = true;
    keysGeneration_ = TZipCollation::Generation();
  }
  auto it = keys_.find(MatchKey(mask));
  return it == keys_.end() ? noCandidates_ : it->second;
}

void TZipDirArray::ClearMarks() {
  for (int i = 0; i < count_; ++i) items_[static_cast<std::size_t>(i)].marked = false;
}

void TZipDirArray::CopyItemsFrom(const TZipDirArray& other) {
  ClearItems();
  SetCount(other.UsedCount());
  TDirItem item;
  for (int i = 0; i < other.UsedCount(); ++i) {
    other.GetItem(i, item);
    SetItem(i, item);
  }
}

}  // namespace krevo::archive
