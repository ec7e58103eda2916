#include "base/Dialogs.h"

namespace krevo::base {
namespace {

class SilentDialogs final : public TDialogService {
 public:
  int MessageDlg(const std::string&, TMsgDlgType, TMsgDlgButtons buttons,
                 const std::string&) override {
    return UnattendedResult(buttons);
  }
  bool InputQuery(const std::string&, const std::string&, std::string&) override { return false; }
  void ShowError(const std::string&, const std::string&) override {}
};

SilentDialogs gSilent;
TDialogService* gInstalled = nullptr;

}  // namespace

std::string DialogCaption(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning:
      return "Warning";
    case TMsgDlgType::mtError:
      return "Error";
    case TMsgDlgType::mtInformation:
      return "Information";
    case TMsgDlgType::mtConfirmation:
      return "Confirm";
    case TMsgDlgType::mtCustom:
      break;
  }
  return "";
}

std::string ButtonCaption(TMsgDlgBtn button) {
  static const char* const kCaptions[] = {"&Yes",       "&No",         "OK",      "Cancel",
                                          "&Abort",     "&Retry",      "&Ignore", "&All",
                                          "N&o to All", "Yes to &All", "&Help"};
  return kCaptions[button];
}

int ButtonResult(TMsgDlgBtn button) {
  static const int kResults[] = {mrYes,    mrNo,  mrOk,      mrCancel,   mrAbort, mrRetry,
                                 mrIgnore, mrAll, mrNoToAll, mrYesToAll, mrNone};
  return kResults[button];
}

TMsgDlgBtn DefaultButton(TMsgDlgButtons buttons) {
  if (HasButton(buttons, mbOK)) return mbOK;
  if (HasButton(buttons, mbYes)) return mbYes;
  for (int b = mbYes; b <= mbHelp; ++b)
    if (HasButton(buttons, static_cast<TMsgDlgBtn>(b))) return static_cast<TMsgDlgBtn>(b);
  return mbOK;
}

int UnattendedResult(TMsgDlgButtons buttons) {
  if (HasButton(buttons, mbOK) && !HasButton(buttons, mbCancel)) return mrOk;
  if (HasButton(buttons, mbNo)) return mrNo;
  if (HasButton(buttons, mbAbort)) return mrAbort;
  return mrCancel;
}

std::string ErrorDisplayText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

TDialogService& Dialogs() {
  return gInstalled ? *gInstalled : gSilent;
}

TDialogService* SetDialogs(TDialogService* service) {
  TDialogService* previous = gInstalled;
  gInstalled = service;
  return previous;
}

}  // namespace krevo::base
