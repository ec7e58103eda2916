#pragma once
// A string-to-position hash: bucket chains with head insertion, so a lookup
// returns the most recently inserted of equal keys.
#include <cstdint>
#include <string>
#include <vector>

namespace krevo::archive {

class TZipStringHash final {
 public:
  explicit TZipStringHash(std::size_t buckets);

  // The rotate-left-by-2-then-XOR hash of the key's bytes.
  static std::uint32_t HashOf(const std::string& key);

  void Add(const std::string& key, std::int32_t value);
  // The value of the first exactly equal key in its chain, or -1.
  std::int32_t ValueOf(const std::string& key) const;
  // Unlinks the first exactly equal key; false when there is none.
  bool Remove(const std::string& key);
  void Clear();
  std::size_t BucketCount() const { return heads_.size(); }

 private:
  struct THashItem {
    std::int32_t next;  // index into nodes_, -1 ends the chain
    std::string key;
    std::int32_t value;
  };
  std::size_t Bucket(const std::string& key) const { return HashOf(key) % heads_.size(); }

  std::vector<std::int32_t> heads_;
  std::vector<THashItem> nodes_;  // unlinked nodes stay until Clear
};

}  // namespace krevo::archive
