// The update run in-process, where a test must answer a dialog or change the
// world between the run's steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/run/Application.h"
#include "app/run/TForm1.h"
#include "tests/app/support/RecordingDialogs.h"
#include "tests/app/support/UpdateSite.h"

namespace krevo::app {
namespace {

using test::LocalTime;
using test::ReadFile;

class QuietHost final : public TFormHost {
 public:
  void ProcessMessages() override {}
  void SetWaitCursor(bool wait) override { waitCursor = wait; }
  void SelectListLine(int index) override { selected.push_back(index); }
  void Terminate() override {}
  bool waitCursor = false;
  std::vector<int> selected;
};

class UpdateRunForm : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    ::setenv("TMPDIR", site.tmp.Folder().c_str(), 1);
  }
  void TearDown() override {
    if (saved_.empty())
      ::unsetenv("TMPDIR");
    else
      ::setenv("TMPDIR", saved_.c_str(), 1);
  }
  void Create() {
    ASSERT_TRUE(application.Guard([this] { form.FormCreate(); }));
  }

  test::UpdateSite site;
  QuietHost host;
  test::RecordingDialogs dialogs;
  test::DialogsInstalled installed{dialogs};
  TApplication application{"Krevo-updater"};
  TForm1 form{host, application, site.install.Folder()};
  std::string saved_;
};

TEST_F(UpdateRunForm, RetryAnsweredYesInstallsTheLastPackageWhateverItsDate) {
  site.AddPackage("080305", {{"first.txt", "1", LocalTime(2008, 3, 5)}});
  site.AddPackage("080306", {{"second.txt", "2", LocalTime(2008, 3, 6)}});
  site.AddPackage("080307", {{"third.txt", "3", LocalTime(2008, 3, 7)}});
  site.install.Write("updates.log", "earlier\r\n");
  test::SetModified(site.install / "updates.log", LocalTime(2009, 1, 1));
  Create();
  dialogs.answers = {base::mrYes};
  form.OnTimer1();
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[0].text,
            "No new updates were available for download. Retry last updated anyway?");
  EXPECT_EQ(dialogs.shown[0].buttons, base::MakeButtons({base::mbYes, base::mbNo}));
  EXPECT_EQ(dialogs.shown[1].caption, "Confirm");
  EXPECT_EQ(dialogs.shown[1].text, "Latest update was downloaded.");
  EXPECT_FALSE(std::filesystem::exists(site.install / "first.txt"));
  EXPECT_FALSE(std::filesystem::exists(site.install / "second.txt"));
  EXPECT_EQ(ReadFile(site.install / "third.txt"), "3");
  EXPECT_EQ(form.FPackageCount, 1);
  EXPECT_EQ(form.ListBox1[2].substr(form.ListBox1[2].size() - 13), " ... complete");
  EXPECT_EQ(host.selected.back(), 2);
  EXPECT_FALSE(host.waitCursor);
  EXPECT_EQ(form.Outcome(), TRunOutcome::Completed);
}

TEST_F(UpdateRunForm, AServerGoneBeforeTheDownloadRunIsReportedAndOffersTheRetry) {
  site.AddPackage("080307", {{"a.txt", "a", LocalTime(2008, 3, 7)}});
  Create();
  form.BitBtn3Click(&form.BitBtn3);
  ASSERT_EQ(form.ListBox1.Count(), 1);
  site.StopServer();
  form.Button1Click(&form.Button1);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].caption, "Error");
  EXPECT_EQ(dialogs.shown[0].text, "Failed to connect to FTP server 127.0.0.1.");
  EXPECT_EQ(form.FPackageCount, 0);
  EXPECT_FALSE(host.waitCursor);
  EXPECT_EQ(form.Outcome(), TRunOutcome::ConnectFailed);
}

TEST_F(UpdateRunForm, ANameThatIsNoPlainFileNameIsPassedOver) {
  site.AddPackage("080307", {{"a.txt", "a", LocalTime(2008, 3, 7)}});
  Create();
  form.BitBtn3Click(&form.BitBtn3);
  ASSERT_EQ(form.ListBox1.Count(), 1);
  const std::string good = form.ListBox1[0];
  const std::string columns = good.substr(0, 39);
  form.ListBox1.Clear();
  form.ListBox1.Add(good);
  form.ListBox1.Add(columns + "../../up090101.zip");
  form.ListBox1.Add(columns + "..");
  // Names the server may offer that are no package names (IsPackageName).
  for (const char* name : {".some-service.lock", "up26x101.zip"}) {
    std::ofstream(site.serverRoot / ("krevo/updates/" + std::string(name))) << "served";
    form.ListBox1.Add(columns + name);
  }
  form.Button1Click(&form.Button1);
  EXPECT_EQ(form.FPackageCount, 1);
  EXPECT_EQ(form.ListBox1[1], columns + "../../up090101.zip");
  EXPECT_FALSE(std::filesystem::exists(site.tmp / "../../up090101.zip"));
  // The temporary folder holds the private folder with the one package, nothing else.
  std::vector<std::string> made;
  for (const auto& e : std::filesystem::recursive_directory_iterator(site.tmp.Folder()))
    made.push_back(std::filesystem::relative(e.path(), site.tmp.Folder()).string());
  std::sort(made.begin(), made.end());
  const std::string staging = std::filesystem::path(site.Staging()).filename().string();
  EXPECT_EQ(made, (std::vector<std::string>{staging, staging + "/up080307.zip"}));
}

TEST_F(UpdateRunForm, AFirstSizeThatIsNoNumberEndsTheRun) {
  site.AddPackage("080307", {{"a.txt", "a", LocalTime(2008, 3, 7)}});
  Create();
  form.ListBox1.Add(std::string(29, ' ') + "   12x3   " + "up080307.zip");
  EXPECT_FALSE(application.Guard([this] { form.Button1Click(&form.Button1); }));
  ASSERT_FALSE(dialogs.shown.empty());
  EXPECT_EQ(dialogs.shown.back().text, "'12x3' is not a valid integer value.");
}

// A file in a folder source that grows or shrinks between the listing and its
// copy fails alone: never more than the listed size is read, and the next
// package is still tried.
TEST_F(UpdateRunForm, AFolderPackageThatChangesAfterTheListingFails) {
  for (const bool grows : {true, false}) {
    SCOPED_TRACE(grows ? "grows" : "shrinks");
    dialogs.shown.clear();
    const std::string changing =
        site.AddPackage("080307", {{"a.txt", test::Noise(5000, 1), LocalTime(2008, 3, 7)}});
    site.AddPackage("080308", {{"b.txt", "b", LocalTime(2008, 3, 8)}});
    site.WriteConfig("Sources=file://" + site.serverRoot / "krevo/updates" +
                     "\r\nAllowUnsignedFolder=yes\r\n");
    TForm1 run{host, application, site.install.Folder()};
    ASSERT_TRUE(application.Guard([&run] { run.FormCreate(); }));
    run.BitBtn3Click(&run.BitBtn3);
    ASSERT_EQ(run.ListBox1.Count(), 2);
    const std::string bytes = ReadFile(changing);
    std::ofstream(changing, std::ios::binary | std::ios::trunc)
        << (grows ? bytes + "more" : bytes.substr(0, bytes.size() / 2));
    run.Button1Click(&run.Button1);
    const std::string size = std::to_string(bytes.size());
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown[0].text,
              grows ? "Failed to download up080307.zip: up080307.zip holds more than the " + size +
                          " bytes listed."
                    : "Failed to download up080307.zip: up080307.zip changed while it was read: " +
                          std::to_string(bytes.size() / 2) + " of " + size + " bytes.");
    EXPECT_TRUE(run.ListBox1[0].ends_with(" ... failed")) << run.ListBox1[0];
    EXPECT_TRUE(run.ListBox1[1].ends_with(" ... complete")) << run.ListBox1[1];
    run.Close();
    std::filesystem::remove(site.install / "b.txt");
  }
}

}  // namespace
}  // namespace krevo::app
