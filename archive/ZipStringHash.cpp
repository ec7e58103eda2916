#include "archive/ZipStringHash.h"

namespace krevo::archive {

TZipStringHash::TZipStringHash(std::size_t buckets) : heads_(buckets ? buckets : 1, -1) {}

std::uint32_t TZipStringHash::HashOf(const std::string& key) {
  std::uint32_t h = 0;
  for (unsigned char b : key) h = ((h << 2) | (h >> 30)) ^ b;
  return h;
}

void TZipStringHash::Add(const std::string& key, std::int32_t value) {
  std::size_t b = Bucket(key);
  nodes_.push_back(THashItem{heads_[b], key, value});
  heads_[b] = static_cast<std::int32_t>(nodes_.size() - 1);
}

std::int32_t TZipStringHash::ValueOf(const std::string& key) const {
  for (std::int32_t n = heads_[Bucket(key)]; n >= 0; n = nodes_[n].next)
    if (nodes_[n].key == key) return nodes_[n].value;
  return -1;
}

bool TZipStringHash::Remove(const std::string& key) {
  std::int32_t* link = &heads_[Bucket(key)];
  while (*link >= 0) {
    THashItem& node = nodes_[*link];
    if (node.key == key) {
      *link = node.next;
      return true;
    }
    link = &node.next;
  }
  return false;
}

void TZipStringHash::Clear() {
  std::fill(heads_.begin(), heads_.end(), -1);
  nodes_.clear();
}

}  // namespace krevo::archive
