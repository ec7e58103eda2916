// The private folder for downloads: which folder is taken, and how a file is
// made in it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/sources/StagingFolder.h"
#include "base/Errors.h"
#include "tests/support/TempDir.h"

namespace krevo::app {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;

unsigned ModeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(StagingFolder, OnlyAPrivateFolderOfOursIsTaken) {
  struct Case {
    const char* what;
    std::function<void(const std::string& path, const TempDir& tmp)> before;
    bool taken;
  };
  const std::vector<Case> cases = {
      {"nothing there", [](const std::string&, const TempDir&) {}, true},
      {"our folder, 0700",
       [](const std::string& p, const TempDir&) { ASSERT_EQ(::mkdir(p.c_str(), 0700), 0); }, true},
      {"our folder, 0755",
       [](const std::string& p, const TempDir&) {
         ASSERT_EQ(::mkdir(p.c_str(), 0700), 0);
         ::chmod(p.c_str(), 0755);
       },
       false},
      {"a link to a private folder of ours",
       [](const std::string& p, const TempDir& tmp) {
         ASSERT_EQ(::mkdir((tmp / "elsewhere").c_str(), 0700), 0);
         ASSERT_EQ(::symlink((tmp / "elsewhere").c_str(), p.c_str()), 0);
       },
       false},
      {"a file",
       [](const std::string& p, const TempDir& tmp) { tmp.Write(fs::path(p).filename(), "x"); },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    const std::string name = "krevo-updater-" + std::to_string(::geteuid());
    const std::string usual = tmp / name;
    c.before(usual, tmp);
    struct stat planted {};
    ::lstat(usual.c_str(), &planted);

    auto staging = std::make_unique<TStagingFolder>(tmp.Folder());
    std::string path = staging->Path();
    ASSERT_EQ(path.back(), '/');
    path.pop_back();
    if (c.taken) {
      EXPECT_EQ(path, usual);
    } else {
      EXPECT_EQ(fs::path(path).parent_path(), fs::path(tmp.Folder()).parent_path());
      EXPECT_EQ(fs::path(path).filename().string().rfind(name + ".", 0), 0u) << path;
      // What was there is left as it was.
      struct stat after {};
      ASSERT_EQ(::lstat(usual.c_str(), &after), 0);
      EXPECT_EQ(after.st_ino, planted.st_ino);
      EXPECT_EQ(after.st_mode, planted.st_mode);
    }
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(path)));
    EXPECT_EQ(ModeOf(path), 0700u);
    // The usual folder keeps its package for the next run; a folder made for
    // this run alone goes with it, as no later run would find it.
    staging->CreateFile("up080307.zip");
    staging.reset();
    EXPECT_EQ(fs::exists(path + "/up080307.zip"), c.taken);
    EXPECT_EQ(fs::exists(path), c.taken);
  }
}

TEST(StagingFolder, AFileIsAlwaysANewFileOfOursNeverWhatWasInTheWay) {
  TempDir tmp;
  TStagingFolder staging(tmp.Folder());
  const std::string folder = staging.Path();
  const std::string outside = tmp.Write("outside", "outside");
  struct Case {
    const char* what;
    std::function<void(const std::string& at)> before;
  };
  const std::vector<Case> cases = {
      {"nothing", [](const std::string&) {}},
      {"an old copy", [](const std::string& at) { std::ofstream(at) << "old copy"; }},
      {"a link",
       [&](const std::string& at) { ASSERT_EQ(::symlink(outside.c_str(), at.c_str()), 0); }},
      {"a hard link",
       [&](const std::string& at) { ASSERT_EQ(::link(outside.c_str(), at.c_str()), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string at = folder + "up080307.zip";
    ::unlink(at.c_str());
    c.before(at);
    base::UniqueFd fd = staging.CreateFile("up080307.zip");
    ASSERT_TRUE(fd);
    ASSERT_EQ(::write(fd.get(), "new", 3), 3);
    EXPECT_EQ(ReadFile(at), "new");
    EXPECT_EQ(ModeOf(at), 0600u);
    EXPECT_EQ(ReadFile(outside), "outside");
  }
  // A folder in the way is not emptied: the create fails on it.
  ASSERT_EQ(::unlink((folder + "up080307.zip").c_str()), 0);
  ASSERT_EQ(::mkdir((folder + "up080307.zip").c_str(), 0700), 0);
  EXPECT_THROW(staging.CreateFile("up080307.zip"), base::EFCreateError);
}

}  // namespace
}  // namespace krevo::app
