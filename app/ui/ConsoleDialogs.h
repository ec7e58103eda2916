#pragma once
// The dialog service of the console mode. Each dialog is written to the error
// stream as one "Caption: text" line. When a user is at a terminal, questions
// are answered there; otherwise each dialog takes the answer that closing it
// gives (OK, No, Abort, or Cancel for input), and a question is followed by a
// line with that answer ("  -> No (unattended)"), as is one whose terminal
// input ends ("  -> No (end of input)").
#include <functional>
#include <istream>
#include <ostream>

#include "base/Dialogs.h"

namespace krevo::app {

class TConsoleDialogs final : public base::TDialogService {
 public:
  // `in` and `err` are borrowed. `interactive`: whether `in` is a terminal
  // with a user who answers.
  TConsoleDialogs(std::istream& in, std::ostream& err, bool interactive)
      : in_(in), err_(err), interactive_(interactive) {}

  // Called before a dialog writes anything (the host ends a progress line).
  std::function<void()> BeforeOutput;

  int MessageDlg(const std::string& text, base::TMsgDlgType type, base::TMsgDlgButtons buttons,
                 const std::string& caption = "") override;
  bool InputQuery(const std::string& caption, const std::string& prompt,
                  std::string& value) override;
  void ShowError(const std::string& title, const std::string& message) override;

 private:
  void Prepare() {
    if (BeforeOutput) BeforeOutput();
  }
  void ShowAnswer(const std::string& answer, const char* why);
  std::istream& in_;
  std::ostream& err_;
  bool interactive_;
};

// A button caption without its '&' and the letter that '&' marks ('\0' if none).
std::string PlainCaption(const std::string& caption, char* accelerator = nullptr);

}  // namespace krevo::app
