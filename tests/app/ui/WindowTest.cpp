// The window under a virtual display: it opens borderless with its client
// size, centred, and closes on its own when the run ends.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "tests/app/support/UpdateSite.h"
#include "tests/app/support/VirtualDisplay.h"

namespace krevo::test {
namespace {

TEST(Window, OpensWithItsSizeAndClosesOnItsOwn) {
  if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::access("/usr/bin/xwininfo", X_OK) != 0)
    GTEST_SKIP() << "Xvfb or xwininfo is missing";
  UpdateSite site;  // a server with no package: the run ends without a dialog
  const TempDir& dir = site.install;
  // The script waits for the window to appear, lists it, and waits for the
  // program to end.
  const std::string script =
      "./krevo-updater & pid=$!; "
      "for i in $(seq 400); do xwininfo -root -tree | grep -q 'Krevo System' && break; sleep 0.05; "
      "done; "
      "xwininfo -root -tree | grep 'Krevo System'; wait $pid; echo exit=$?";
  TVirtualDisplay display;
  ASSERT_TRUE(display.Usable()) << "Xvfb did not start";
  RunResult r = RunProcess({"/bin/sh", "-c", script}, dir.Folder());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(606x241\+(\d+)\+(\d+))")))
      << r.out << r.err;
  EXPECT_EQ(std::stoi(m[1]), (1024 - 606) / 2);
  EXPECT_EQ(std::stoi(m[2]), (768 - 241) / 2);
  EXPECT_NE(r.out.find("exit=0"), std::string::npos) << r.out << r.err;
  EXPECT_NE(ReadFile(dir / "updates.log").find("No files were updated."), std::string::npos);
}

}  // namespace
}  // namespace krevo::test
