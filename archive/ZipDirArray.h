#pragma once
// The items of one central directory in archive order, with a hashed index of
// their lower-cased names (position i holds item i's name).
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/ZipHashedStringList.h"
#include "archive/ZipTypes.h"

namespace krevo::archive {

class TZipDirArray final {
 public:
  TZipDirArray() = default;
  TZipDirArray(const TZipDirArray&) = delete;
  TZipDirArray& operator=(const TZipDirArray&) = delete;

  int UsedCount() const { return count_; }
  int Allocated() const { return static_cast<int>(items_.size()); }
  // Grows (by a step that doubles up to 10000 slots, new slots cleared) or
  // shrinks the count in use; 0 releases every item.
  void SetCount(int n);
  // Releases every item and empties the name index.
  void ClearItems();
  // Throws EZipException 2 when i is outside 0..UsedCount()-1.
  void GetItem(int i, TDirItem& out) const;
  // Throws EZipException 3 when i is out of range. The reference stays valid
  // until the next SetCount, DeleteItem or ClearItems.
  TDirItem& ItemPtr(int i);
  const TDirItem& ItemPtr(int i) const;
  // Replaces item i by a copy and puts its lower-cased name at index position i
  // (appended when i equals the index's count). Throws EZipException 1 for a
  // bad i, 58 when the index has fewer than i positions.
  void SetItem(int i, const TDirItem& item);
  // Renames item i and keeps the index in step. Throws EZipException 3 for a bad
  // i, 59 when the current name is indexed at another position.
  void RenameItem(int i, const std::string& name);
  // Throws EZipException 4 for a bad i.
  void DeleteItem(int i);
  void ClearMarks();
  void CopyItemsFrom(const TZipDirArray& other);
  // Position of the item with this name (case ignored for ASCII letters), -1.
  int IndexOfName(const std::string& name) { return index_.IndexOf(name); }
  // The positions, in archive order, of the items that the wildcard-free
  // `mask` (no '*' or '?', not ending in '.') can match in MatchItem, by
  // either of their ItemMatchKeys: every item it matches is among them, so
  // a find tries these alone. Built on first use (and again after any change
  // of the items' names or of the collation); the reference is valid until
  // the next call or change of the items. Names change only through
  // SetItem, RenameItem, DeleteItem and the calls that clear the items.
  const std::vector<int>& MaskCandidates(const std::string& mask);

 private:
  std::vector<TDirItem> items_;  // allocated slots
  int count_ = 0;
  int step_ = 500;
  static constexpr int kMaxStep = 10000;
  TZipHashedStringList index_;
  std::unordered_map<std::u32string, std::vector<int>> keys_;
  bool keysValid_ = false;
  unsigned keysGeneration_ = 0;
  std::vector<int> noCandidates_;
};

}  // namespace krevo::archive
