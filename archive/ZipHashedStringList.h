#pragma once
// A string list with two lazily built hash indexes: one over whole strings
// (IndexOf) and one over the part before the first '=' (IndexOfName). When the
// list is not case-sensitive the hash keys are the upper-cased strings (ASCII
// letters; other bytes compare exactly).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/ZipStringHash.h"

namespace krevo::archive {

class TZipHashedStringList final {
 public:
  explicit TZipHashedStringList(bool caseSensitive = false) : caseSensitive_(caseSensitive) {}

  int Count() const { return static_cast<int>(strings_.size()); }
  // REQUIRES: 0 <= i < Count().
  const std::string& operator[](int i) const { return strings_[static_cast<std::size_t>(i)]; }

  // Appends; returns the new position. Keeps a valid value index up to date and
  // drops it (to be rebuilt larger) past five strings per bucket.
  int Add(const std::string& s);
  // REQUIRES: 0 <= i < Count(). Moves the key of position i to the new string.
  void Put(int i, const std::string& s);
  // REQUIRES: 0 <= i < Count(). Invalidates both indexes.
  void Delete(int i);
  void Clear();
  // Position of a string (case rule of the list), or -1. Builds the value
  // index on first use with max(Count(), 1000) buckets.
  int IndexOf(const std::string& s);
  // Position of the first string whose part before '=' equals `name`, or -1.
  int IndexOfName(const std::string& name);
  // Buckets of the value index; 0 when it does not exist.
  std::size_t ValueBuckets() const { return valueValid_ && values_ ? values_->BucketCount() : 0; }

  static std::string UpperAscii(std::string s);
  static std::string LowerAscii(std::string s);

 private:
  std::string Key(const std::string& s) const { return caseSensitive_ ? s : UpperAscii(s); }
  void BuildValues();
  void BuildNames();

  bool caseSensitive_;
  std::vector<std::string> strings_;
  std::unique_ptr<TZipStringHash> values_;
  bool valueValid_ = false;
  std::unique_ptr<TZipStringHash> names_;
  bool namesValid_ = false;
};

}  // namespace krevo::archive
