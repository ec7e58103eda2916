// The window-mode dialogs, in this process on a virtual display: a test
// presses a button of the dialog shown, as a user would click it.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/ui/FltkDialogs.h"
#include "tests/app/support/VirtualDisplay.h"

namespace krevo::app {
namespace {

// What the pressing timer saw of the modal dialog, and which button to press.
// `wake` is a pipe's write end that the dialog's wait watches.
struct Pressing {
  std::string press;
  int wake;
  std::vector<std::string> captions;
};

void PressButton(void* data) {
  auto* p = static_cast<Pressing*>(data);
  Fl_Window* dialog = Fl::first_window();  // the one shown last
  if (!dialog || !dialog->modal()) {
    Fl::repeat_timeout(0.02, PressButton, data);
    return;
  }
  Fl_Widget* target = nullptr;
  for (int i = 0; i < dialog->children(); ++i)
    if (auto* button = dynamic_cast<Fl_Button*>(dialog->child(i))) {
      p->captions.push_back(button->label());
      if (p->press == button->label()) target = button;
    }
  (target ? target : dialog)->do_callback();  // not found: the dialog closes
  // A click is an event that ends the dialog's wait; a call is none, so a
  // byte on a watched pipe ends it (a timer added here may run in this same
  // pass when the machine is slow, and leave nothing to wait for).
  const char byte = 0;
  if (::write(p->wake, &byte, 1) != 1) ADD_FAILURE() << "cannot wake the dialog's wait";
}

void Drain(int fd, void*) {
  char bytes[16];
  if (::read(fd, bytes, sizeof bytes) < 0) ADD_FAILURE() << "cannot drain the wake pipe";
}

// Every button asked for is in the dialog, in order, and each answers with
// its own result. Buttons after the default one were once left out of it.
TEST(FltkDialogs, EveryButtonIsShownAndAnswersWithItsResult) {
  test::TVirtualDisplay display;
  if (!display.Usable()) GTEST_SKIP() << "no virtual display (Xvfb is missing)";
  Fl::w();  // opens the display
  struct Case {
    base::TMsgDlgButtons buttons;
    std::string press;
    int result;
    std::vector<std::string> captions;
  };
  using base::MakeButtons;
  const std::vector<Case> cases = {
      {MakeButtons({base::mbYes, base::mbNo}), "&No", base::mrNo, {"&Yes", "&No"}},
      {MakeButtons({base::mbYes, base::mbNo}), "&Yes", base::mrYes, {"&Yes", "&No"}},
      {MakeButtons({base::mbAbort, base::mbRetry, base::mbIgnore}),
       "&Ignore",
       base::mrIgnore,
       {"&Abort", "&Retry", "&Ignore"}},
      {MakeButtons({base::mbYes, base::mbNo, base::mbAll, base::mbNoToAll, base::mbYesToAll}),
       "N&o to All",
       base::mrNoToAll,
       {"&Yes", "&No", "&All", "N&o to All", "Yes to &All"}},
      {MakeButtons({base::mbOK, base::mbCancel}), "Cancel", base::mrCancel, {"OK", "Cancel"}},
  };
  int wake[2];
  ASSERT_EQ(::pipe(wake), 0);
  Fl::add_fd(wake[0], FL_READ, Drain);
  TFltkDialogs dialogs;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.press);
    Pressing pressing{c.press, wake[1], {}};
    Fl::add_timeout(0.02, PressButton, &pressing);
    const int result =
        dialogs.MessageDlg("Replace the file?", base::TMsgDlgType::mtConfirmation, c.buttons);
    Fl::remove_timeout(PressButton, &pressing);
    EXPECT_EQ(pressing.captions, c.captions);
    EXPECT_EQ(result, c.result);
  }
  Fl::remove_fd(wake[0]);
  ::close(wake[0]), ::close(wake[1]);
}

}  // namespace
}  // namespace krevo::app
