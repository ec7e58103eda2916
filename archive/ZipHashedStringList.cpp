#include "archive/ZipHashedStringList.h"

#include <algorithm>

namespace krevo::archive {

std::string TZipHashedStringList::UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string TZipHashedStringList::LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

int TZipHashedStringList::Add(const std::string& s) {
  strings_.push_back(s);
  int pos = Count() - 1;
  if (valueValid_ && values_) {
    values_->Add(Key(s), pos);
    if (strings_.size() > 5 * values_->BucketCount()) {
      values_.reset();
      valueValid_ = false;
    }
  }
  namesValid_ = false;
  return pos;
}

void TZipHashedStringList::Put(int i, const std::string& s) {
  std::string& slot = strings_[static_cast<std::size_t>(i)];
  if (valueValid_ && values_) {
    values_->Remove(Key(slot));
    values_->Add(Key(s), i);
  }
  slot = s;
  namesValid_ = false;
}

void TZipHashedStringList::Delete(int i) {
  strings_.erase(strings_.begin() + i);
  valueValid_ = false;
  namesValid_ = false;
}

void TZipHashedStringList::Clear() {
  strings_.clear();
  if (values_) values_->Clear();
  if (names_) names_->Clear();
  namesValid_ = false;
}

void TZipHashedStringList::BuildValues() {
  values_ = std::make_unique<TZipStringHash>(std::max<std::size_t>(strings_.size(), 1000));
  for (std::size_t i = 0; i < strings_.size(); ++i)
    values_->Add(Key(strings_[i]), static_cast<std::int32_t>(i));
  valueValid_ = true;
}

void TZipHashedStringList::BuildNames() {
  names_ = std::make_unique<TZipStringHash>(256);
  // Inserted from the back so that the head of each chain is the first string.
  for (std::size_t i = strings_.size(); i-- > 0;) {
    std::size_t eq = strings_[i].find('=');
    if (eq != std::string::npos)
      names_->Add(Key(strings_[i].substr(0, eq)), static_cast<std::int32_t>(i));
  }
  namesValid_ = true;
}

int TZipHashedStringList::IndexOf(const std::string& s) {
  if (!valueValid_ || !values_) BuildValues();
  return values_->ValueOf(Key(s));
}

int TZipHashedStringList::IndexOfName(const std::string& name) {
  if (!namesValid_ || !names_) BuildNames();
  return names_->ValueOf(Key(name));
}

}  // namespace krevo::archive
