// Kept apart from the window code: the X headers define names (Button1, ...)
// that the window's own code uses.
#include <FL/x.H>
#include <X11/Xlib.h>

#include <cstdlib>

#include "app/ui/FltkHost.h"

namespace krevo::app {
namespace {

// The connection that the probe opened, kept for the window. An X server
// with no client left resets itself (a plain Xvfb does), and a connection
// made while it resets is dropped: closing the probe's connection and
// opening another one made the window fail now and then with "Can't open
// display".
Display* probed = nullptr;

}  // namespace

bool TFltkHost::DisplayAvailable() {
  // This toolkit build talks to X only; a Wayland session offers it through
  // its X server, named by DISPLAY.
  const char* x = std::getenv("DISPLAY");
  if (!(x && *x)) return false;
  if (!probed) probed = XOpenDisplay(nullptr);
  return probed != nullptr;
}

void TFltkHost::OpenDisplay() {
  if (probed)
    fl_open_display(probed);  // the toolkit owns it from here
  else
    fl_open_display();
  probed = nullptr;
}

}  // namespace krevo::app
