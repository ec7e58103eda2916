#include "app/run/Application.h"

#include "base/Dialogs.h"
#include "base/Errors.h"

namespace krevo::app {

void TApplication::HandleException(const std::exception& e) {
  if (dynamic_cast<const base::EAbort*>(&e)) return;
  errorShown_ = true;
  base::Dialogs().ShowError(title_, base::ErrorDisplayText(e.what()));
}

bool TApplication::Guard(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (const std::exception& e) {
    HandleException(e);
  } catch (...) {
    // Every error of this program derives from std::exception; anything else
    // is still shown rather than ending the process.
    HandleException(std::runtime_error("Unknown error"));
  }
  return false;
}

}  // namespace krevo::app
