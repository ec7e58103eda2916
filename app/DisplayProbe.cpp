// Kept apart from the window code: the X headers define names (Button1, ...)
// that the window's own code uses.
#include <X11/Xlib.h>

#include <cstdlib>

#include "app/FltkHost.h"

namespace krevo::app {

bool TFltkHost::DisplayAvailable() {
  // This toolkit build talks to X only; a Wayland session offers it through
  // its X server, named by DISPLAY.
  const char* x = std::getenv("DISPLAY");
  if (!(x && *x)) return false;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XCloseDisplay(display);
  return true;
}

}  // namespace krevo::app
