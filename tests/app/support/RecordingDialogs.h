#pragma once
// A dialog service for tests: records every dialog and answers from a script.
#include <deque>
#include <string>
#include <vector>

#include "base/Dialogs.h"

namespace krevo::test {

class RecordingDialogs final : public base::TDialogService {
 public:
  struct Shown {
    std::string caption;
    std::string text;
    base::TMsgDlgButtons buttons;
  };
  std::vector<Shown> shown;
  std::deque<int> answers;  // taken in order; the unattended answer when empty

  int MessageDlg(const std::string& text, base::TMsgDlgType type, base::TMsgDlgButtons buttons,
                 const std::string& caption) override {
    shown.push_back({caption.empty() ? base::DialogCaption(type) : caption, text, buttons});
    if (answers.empty()) return base::UnattendedResult(buttons);
    int a = answers.front();
    answers.pop_front();
    return a;
  }
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string&) override {
    shown.push_back({caption, prompt, 0});
    return false;
  }
  void ShowError(const std::string& title, const std::string& message) override {
    shown.push_back({title, message, base::MakeButtons({base::mbOK})});
  }
};

// Installs a dialog service for the life of the scope.
class DialogsInstalled final {
 public:
  explicit DialogsInstalled(base::TDialogService& s) : previous_(base::SetDialogs(&s)) {}
  ~DialogsInstalled() { base::SetDialogs(previous_); }
  DialogsInstalled(const DialogsInstalled&) = delete;
  DialogsInstalled& operator=(const DialogsInstalled&) = delete;

 private:
  base::TDialogService* previous_;
};

}  // namespace krevo::test
