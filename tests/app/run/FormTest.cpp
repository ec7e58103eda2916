// The main window's logic driven as its host drives it: creation, the timer,
// the exclusive-access test and the close.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/run/Application.h"
#include "app/run/TForm1.h"
#include "app/ui/ExitStatus.h"
#include "base/Version.h"
#include "tests/app/support/RecordingDialogs.h"
#include "tests/app/support/UpdateSite.h"

namespace krevo::app {
namespace {

using test::ReadFile;
using test::TempDir;
using test::UpdateSite;

class FakeHost final : public TFormHost {
 public:
  void ProcessMessages() override { ++processed; }
  void SetWaitCursor(bool) override {}
  void Terminate() override { ++terminated; }
  int processed = 0;
  int terminated = 0;
};

class FormTest : public ::testing::Test {
 protected:
  UpdateSite site;
  const TempDir& dir = site.install;
  FakeHost host;
  test::RecordingDialogs dialogs;
  test::DialogsInstalled installed{dialogs};
  TApplication application{"Krevo-updater"};
  TForm1 form{host, application, dir.Folder()};

  void Start() {
    application.Guard([this] { form.FormCreate(); });
  }
  std::string Log() { return ReadFile(dir / "updates.log"); }
};

TEST_F(FormTest, AFreeMainExecutableLetsTheRunEndAndCloseTheWindow) {
  Start();
  EXPECT_EQ(form.FRootFolder, dir.Folder());
  EXPECT_EQ(form.Label5, "Version : " + base::OwnFileVersion());
  EXPECT_TRUE(form.Timer1Enabled);
  form.OnTimer1();
  EXPECT_FALSE(form.Timer1Enabled);
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_EQ(form.Outcome(), TRunOutcome::Completed);
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(host.terminated, 1);
  EXPECT_GE(host.processed, 1);
  EXPECT_NE(Log().find("No files were updated.\r\n" + std::string(70, '=') + "\r\n"),
            std::string::npos);
  form.OnTimer1();  // the timer is off: nothing happens again
  EXPECT_EQ(host.terminated, 1);
  EXPECT_EQ(ConsoleExitStatus(form.Outcome(), application.ErrorShown(), 0), 0);
}

TEST_F(FormTest, AMainExecutableInUseShowsTheErrorAndCloses) {
  test::BackgroundProcess user({"/bin/sleep", "60"}, dir / "krevo.exe");
  Start();
  form.OnTimer1();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].caption, "Error");
  EXPECT_EQ(dialogs.shown[0].text, "Could not open " + dir.Folder() +
                                       "krevo.exe for exclusive access. Please ensure all users "
                                       "are out of the system.");
  EXPECT_EQ(dialogs.shown[0].buttons, base::MakeButtons({base::mbOK}));
  EXPECT_EQ(form.Outcome(), TRunOutcome::ExclusiveAccessFailed);
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(host.processed, 0);  // no further step of the run
  EXPECT_NE(Log().find("No files were updated."), std::string::npos);
  EXPECT_EQ(ConsoleExitStatus(form.Outcome(), application.ErrorShown(), 0), 2);
}

TEST_F(FormTest, ALogThatCannotBeOpenedIsShownAndTheProgramStillEnds) {
  site.WriteConfig("[Documents]\nRootFolder=" + dir.Folder() +
                   "gone/\n[Reports]\nRootFolder=" + dir.Folder() + "gone/\n");
  Start();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].caption, "Krevo-updater");
  EXPECT_EQ(dialogs.shown[0].text, "File not found.");
  EXPECT_EQ(form.FRootFolder, dir.Folder() + "gone/");  // the steps before the log still ran
  form.OnTimer1();
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[1].text, "I/O error 105.");  // the footer at close
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(host.terminated, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "gone"));
  EXPECT_EQ(ConsoleExitStatus(form.Outcome(), application.ErrorShown(), 0), 1);
}

}  // namespace
}  // namespace krevo::app
