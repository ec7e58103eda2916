#pragma once
// The dialog service: modal message dialogs, one-line text input and the
// default error display. The window and the console mode each supply one; the
// updater and the archive component's default dialogs both go through it.
#include <initializer_list>
#include <string>

namespace krevo::base {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Buttons, in the order a dialog shows them.
enum TMsgDlgBtn {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};
// A set of buttons: bit (1 << button).
using TMsgDlgButtons = unsigned;
constexpr TMsgDlgButtons MakeButtons(std::initializer_list<TMsgDlgBtn> buttons) {
  TMsgDlgButtons set = 0;
  for (TMsgDlgBtn b : buttons) set |= 1u << b;
  return set;
}
constexpr bool HasButton(TMsgDlgButtons set, TMsgDlgBtn b) {
  return (set >> b) & 1u;
}

// What a dialog returns.
enum TModalResult : int {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
  mrAll = 8,
  mrNoToAll = 9,
  mrYesToAll = 10
};

// "Warning", "Error", "Information", "Confirm"; empty for mtCustom.
std::string DialogCaption(TMsgDlgType type);
// "&Yes", "&No", "OK", "Cancel", "&Abort", "&Retry", "&Ignore", "&All",
// "N&o to All", "Yes to &All", "&Help".
std::string ButtonCaption(TMsgDlgBtn button);
// The result that pressing `button` returns (mbHelp: mrNone).
int ButtonResult(TMsgDlgBtn button);
// The button a dialog takes by default: OK when present, else Yes, else the first.
TMsgDlgBtn DefaultButton(TMsgDlgButtons buttons);
// The answer that closing a dialog gives where nobody can answer it: OK for an
// OK dialog, No where No is offered, Abort where Abort is, else Cancel.
int UnattendedResult(TMsgDlgButtons buttons);
// The default error display's text: the message with a full stop appended
// when its last character sorts after '.'.
std::string ErrorDisplayText(const std::string& message);

class TDialogService {
 public:
  virtual ~TDialogService() = default;
  // A modal dialog with `text`, the caption and icon of `type` (or `caption`
  // when not empty) and `buttons`. Returns the pressed button's TModalResult;
  // mrCancel when the dialog is closed without a button.
  virtual int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                         const std::string& caption = "") = 0;
  // One-line input showing `value`. OK returns true and stores the typed text
  // in `value`; Cancel returns false and leaves `value` unchanged.
  virtual bool InputQuery(const std::string& caption, const std::string& prompt,
                          std::string& value) = 0;
  // The default error display: `message` (already passed through
  // ErrorDisplayText) under the caption `title`, with a stop icon and OK.
  virtual void ShowError(const std::string& title, const std::string& message) = 0;
};

// The process's dialog service. Until one is installed, a silent service gives
// the unattended answers and shows nothing.
TDialogService& Dialogs();
// Installs `service` (borrowed: it must outlive its installation); nullptr
// restores the silent service. Returns the previous one (null for silent).
TDialogService* SetDialogs(TDialogService* service);

}  // namespace krevo::base
