#pragma once
// An ordered list of strings with add, replace, clear and count, which tells an
// observer of every change (the list box's lines are one).
#include <functional>
#include <string>
#include <vector>

namespace krevo::base {

class TStringList {
 public:
  enum class TChange { Added, Replaced, Cleared };
  // Called after each change with the index concerned (-1 for Cleared).
  std::function<void(TChange change, int index)> OnChange;

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count(); throws std::out_of_range otherwise.
  const std::string& operator[](int index) const {
    return items_.at(static_cast<std::size_t>(index));
  }
  // Appends a line; returns its index.
  int Add(const std::string& s);
  // Replaces line `index`. Throws std::out_of_range for a bad index.
  void Put(int index, const std::string& s);
  void Clear();
  const std::vector<std::string>& Lines() const { return items_; }

 private:
  void Notify(TChange change, int index) {
    if (OnChange) OnChange(change, index);
  }
  std::vector<std::string> items_;
};

}  // namespace krevo::base
