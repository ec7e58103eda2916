#include "app/run/ProgressBar.h"

#include <algorithm>

namespace krevo::app {

void TProgressBar::SetMax(std::int64_t max) {
  max_ = std::max(max, min_);
  position_ = std::min(position_, max_);
  Changed();
}

void TProgressBar::SetPosition(std::int64_t position) {
  position_ = std::clamp(position, min_, max_);
  Changed();
}

}  // namespace krevo::app
