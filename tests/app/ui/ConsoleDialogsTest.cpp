// The console mode's dialogs: what is written to the error stream and what is
// answered, with a user at a terminal (scripted input) and without one.
#include <gtest/gtest.h>

#include <sstream>

#include "app/ui/ConsoleDialogs.h"

namespace krevo::app {
namespace {

using base::MakeButtons;

struct DialogCase {
  const char* label;
  bool interactive;
  const char* input;
  base::TMsgDlgType type;
  base::TMsgDlgButtons buttons;
  int result;
  const char* written;
  friend void PrintTo(const DialogCase& c, std::ostream* os) { *os << c.label; }
};

const DialogCase kDialogs[] = {
    {"unattended question", false, "y\n", base::TMsgDlgType::mtConfirmation,
     MakeButtons({base::mbYes, base::mbNo}), base::mrNo, "Confirm: Go on?\n  -> No (unattended)\n"},
    {"unattended failure", false, "", base::TMsgDlgType::mtError,
     MakeButtons({base::mbAbort, base::mbRetry, base::mbIgnore}), base::mrAbort,
     "Error: Go on?\n  -> Abort (unattended)\n"},
    {"unattended without a closing button", false, "", base::TMsgDlgType::mtWarning,
     MakeButtons({base::mbYes}), base::mrCancel, "Warning: Go on?\n  -> Cancel (unattended)\n"},
    {"message needs no answer", false, "", base::TMsgDlgType::mtInformation,
     MakeButtons({base::mbOK}), base::mrOk, "Information: Go on?\n"},
    {"answered at the terminal", true, "yes\n", base::TMsgDlgType::mtConfirmation,
     MakeButtons({base::mbYes, base::mbNo}), base::mrYes, "Confirm: Go on?\n  Yes (default), No? "},
    {"terminal input ends", true, "", base::TMsgDlgType::mtConfirmation,
     MakeButtons({base::mbYes, base::mbNo}), base::mrNo,
     "Confirm: Go on?\n  Yes (default), No? \n  -> No (end of input)\n"},
};

class ConsoleDialog : public ::testing::TestWithParam<DialogCase> {};

TEST_P(ConsoleDialog, WritesTheQuestionAndTheAnswerTaken) {
  const DialogCase& c = GetParam();
  std::istringstream in(c.input);
  std::ostringstream err;
  TConsoleDialogs dialogs(in, err, c.interactive);
  EXPECT_EQ(dialogs.MessageDlg("Go on?", c.type, c.buttons), c.result);
  EXPECT_EQ(err.str(), c.written);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, ConsoleDialog, ::testing::ValuesIn(kDialogs));

TEST(ConsoleDialogs, AnUnattendedInputQueryIsCancelledAndSaysSo) {
  std::istringstream in("typed\n");
  std::ostringstream err;
  TConsoleDialogs dialogs(in, err, false);
  std::string value = "kept";
  EXPECT_FALSE(dialogs.InputQuery("Password", "Password for a.txt:", value));
  EXPECT_EQ(value, "kept");
  EXPECT_EQ(err.str(), "Password: Password for a.txt:\n  -> Cancel (unattended)\n");
}

TEST(ConsoleDialogs, TextFromOutsideReachesTheTerminalAsOneEscapedLine) {
  struct Case {
    std::string text, line;
  } cases[] = {
      {"550 No such file.\r\n", "550 No such file."},
      {"530-first\r\n530 second\r\n", "530-first 530 second"},
      {"name \x1b[2J\x1b]0;title\x07 end", "name \\x1b[2J\\x1b]0;title\\x07 end"},
      {"lone\rreturn", "lone\\rreturn"},
      {"csi \xc2\x9b"
       "31m",
       "csi \\xc2\\x9b31m"},
  };
  for (const Case& c : cases) {
    std::istringstream in;
    std::ostringstream err;
    TConsoleDialogs dialogs(in, err, false);
    dialogs.MessageDlg(c.text, base::TMsgDlgType::mtError, base::MakeButtons({base::mbOK}));
    dialogs.ShowError("Krevo-updater", c.text);
    EXPECT_EQ(err.str(), "Error: " + c.line + "\nKrevo-updater: " + c.line + "\n");
  }
}

}  // namespace
}  // namespace krevo::app
