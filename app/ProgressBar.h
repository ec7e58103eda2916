#pragma once
// The state of a progress bar: its range and position. The host draws it; the
// updater's handlers only move it.
#include <functional>

namespace krevo::app {

class TProgressBar {
 public:
  // Called after every change of range or position.
  std::function<void()> OnChange;

  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  // Sets the maximum; the position is kept within the new range.
  void SetMax(int max);
  // Sets the position, kept within Min..Max.
  void SetPosition(int position);

 private:
  void Changed() {
    if (OnChange) OnChange();
  }
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
};

}  // namespace krevo::app
