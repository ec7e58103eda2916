#include "base/StringList.h"

namespace krevo::base {

int TStringList::Add(const std::string& s) {
  items_.push_back(s);
  int index = Count() - 1;
  Notify(TChange::Added, index);
  return index;
}

void TStringList::Put(int index, const std::string& s) {
  items_.at(static_cast<std::size_t>(index)) = s;
  Notify(TChange::Replaced, index);
}

void TStringList::Clear() {
  items_.clear();
  Notify(TChange::Cleared, -1);
}

}  // namespace krevo::base
