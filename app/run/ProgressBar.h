#pragma once
// The state of a progress bar: its range and position, 64-bit so that a byte
// count of any package fits. The host draws it; the updater's handlers only
// move it.
#include <cstdint>
#include <functional>

namespace krevo::app {

class TProgressBar {
 public:
  // Called after every change of range or position.
  std::function<void()> OnChange;

  std::int64_t Min() const { return min_; }
  std::int64_t Max() const { return max_; }
  std::int64_t Position() const { return position_; }
  // Sets the maximum; the position is kept within the new range.
  void SetMax(std::int64_t max);
  // Sets the position, kept within Min..Max (beyond the maximum shows full).
  void SetPosition(std::int64_t position);

 private:
  void Changed() {
    if (OnChange) OnChange();
  }
  std::int64_t min_ = 0;
  std::int64_t max_ = 100;
  std::int64_t position_ = 0;
};

}  // namespace krevo::app
