#pragma once
// The dialog service of the window mode: modal dialogs centred on the screen,
// with the caption and icon of their type, the text word-wrapped, and the
// buttons in their fixed order. Needs an open display.
#include "base/Dialogs.h"

namespace krevo::app {

class TFltkDialogs final : public base::TDialogService {
 public:
  // Returns the pressed button's result. The default button answers Enter;
  // Esc answers Cancel where offered, else No, else OK, else Abort; closing
  // the dialog's window answers Cancel.
  int MessageDlg(const std::string& text, base::TMsgDlgType type, base::TMsgDlgButtons buttons,
                 const std::string& caption = "") override;
  bool InputQuery(const std::string& caption, const std::string& prompt,
                  std::string& value) override;
  void ShowError(const std::string& title, const std::string& message) override;
};

}  // namespace krevo::app
