#pragma once
// What the main window's logic needs from the host that shows it: the window
// toolkit in window mode, the terminal in console mode.

#include <string>

namespace krevo::app {

class TFormHost {
 public:
  virtual ~TFormHost() = default;
  // Handles every message already queued (painting, input, timers) and returns
  // at once.
  virtual void ProcessMessages() = 0;
  // Shows the wait cursor (true) or the default cursor (false).
  virtual void SetWaitCursor(bool wait) = 0;
  // Selects line `index` of the list box.
  virtual void SelectListLine(int /*index*/) {}
  // Tells what the run is doing, in passing (a download being retried); the
  // log has it too. Nothing by default.
  virtual void ShowNote(const std::string& /*text*/) {}
  // The window has closed: the host ends its message loop once the current
  // handler returns.
  virtual void Terminate() = 0;
};

}  // namespace krevo::app
