// krevo-updater --rollback: the last package undone, the date kept, and
// nothing more to undo after it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;

TEST(UpdateRunRollback, TheLastPackageIsUndoneOnceAndIsNotOfferedAgain) {
  UpdateSite site;
  fs::create_directories(site.install / "bin");
  site.install.Write("bin/replaced.bin", "old");
  ::chmod((site.install / "bin/replaced.bin").c_str(), 0640);
  SetModified(site.install / "bin/replaced.bin", LocalTime(2001, 1, 1));
  site.AddPackage("080307", {{"bin/replaced.bin", "new", LocalTime(2008, 3, 7)},
                             {"new/deep/added.txt", "added", LocalTime(2008, 3, 7)}});
  ASSERT_EQ(site.Run().exitCode, 0);
  ASSERT_EQ(ReadFile(site.install / "new/deep/added.txt"), "added");
  const std::time_t installed = Modified(site.install / "updates.log");

  RunResult r = site.RunWith({"--rollback"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(site.install / "bin/replaced.bin"), "old");
  struct stat st;
  ASSERT_EQ(::stat((site.install / "bin/replaced.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_mtime, LocalTime(2001, 1, 1));
  EXPECT_FALSE(fs::exists(site.install / "new"));
  EXPECT_NE(site.Log().find("\r\nRolled back up080307.zip\r\nScan finished "), std::string::npos)
      << site.Log();
  EXPECT_EQ(Modified(site.install / "updates.log"), installed);

  RunResult again = site.RunWith({"--rollback"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.err, "Krevo-updater: There is no update to roll back.\n");
  // The date stayed, so the package undone is not taken again.
  RunResult next = site.Run();
  EXPECT_EQ(next.exitCode, 0) << next.err;
  EXPECT_EQ(ReadFile(site.install / "bin/replaced.bin"), "old");
}

}  // namespace
}  // namespace krevo::test
