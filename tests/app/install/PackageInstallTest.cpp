// The install of one package without the window: what reaches the root
// folder, and what a refused package leaves there (nothing).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "app/install/PackageInstall.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace krevo::app {
namespace {

namespace fs = std::filesystem;
using test::RunProcess;
using test::TempDir;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Everything below `root` but the archiver's "temp", as relative paths.
std::vector<std::string> Contents(const std::string& root) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.path().filename() != "temp") names.push_back(fs::relative(e.path(), root).string());
  std::sort(names.begin(), names.end());
  return names;
}

// up080307.zip in `work`, a.txt and sub/b.txt in it, with the package password.
std::string MakePackage(const TempDir& work) {
  work.Write("a.txt", "a");
  fs::create_directories(work / "sub");
  work.Write("sub/b.txt", "b");
  const std::string package = work / "up080307.zip";
  const auto r = RunProcess(
      {"/usr/bin/zip", "-q", "-X", "-D", "-P", kPackagePassword, package, "a.txt", "sub/b.txt"},
      work.Folder());
  if (r.exitCode != 0) throw std::runtime_error("zip failed: " + r.err);
  return package;
}

TEST(PackageInstall, InstallsAWholePackageAndRefusesOneItCannotTrustLeavingTheRootAsItWas) {
  struct Case {
    const char* what;
    std::function<void(const std::string& package)> damage;
    std::string failure;  // empty: installed
  };
  const std::vector<Case> cases = {
      {"whole", [](const std::string&) {}, ""},
      {"directory rebuilt",
       [](const std::string& package) {
         // The first central header claims a name longer than the directory:
         // the reader rebuilds the items from the local headers.
         std::string bytes = ReadFile(package);
         const auto at = bytes.find(std::string("PK\x01\x02", 4));
         bytes.replace(at + 28, 2, "\x60\xea");
         std::ofstream(package, std::ios::binary) << bytes;
       },
       "Failed to install up080307.zip: the central directory is damaged; nothing was installed "
       "from it."},
      {"no archive",
       [](const std::string& package) {
         std::ofstream(package, std::ios::binary) << std::string(4096, 'x');
       },
       "Failed to install up080307.zip: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir work, root;
    const std::string package = MakePackage(work);
    c.damage(package);
    fs::create_directories(root / "sub");
    root.Write("sub/kept.txt", "kept");
    const std::vector<std::string> before = Contents(root.Folder());

    TUpdaterArchiver archiver;
    TPackageInstall install(archiver, root.Folder());
    int opened = -1;
    install.OnOpened = [&](int entryCount) { opened = entryCount; };
    const TInstallEnd end = install.Install(
        "up080307.zip", std::make_unique<base::TFileStream>(package, base::fmOpenRead), package);

    EXPECT_FALSE(archiver.OnStageFile);
    EXPECT_FALSE(archiver.OnStageFolder);
    if (c.failure.empty()) {
      EXPECT_TRUE(end.installed) << end.failure;
      EXPECT_EQ(opened, 2);
      EXPECT_EQ(ReadFile(root / "a.txt"), "a");
      EXPECT_EQ(ReadFile(root / "sub/b.txt"), "b");
      EXPECT_EQ(ReadFile(root / "sub/kept.txt"), "kept");
      continue;
    }
    EXPECT_FALSE(end.installed);
    EXPECT_EQ(end.failure.substr(0, c.failure.size()), c.failure);
    EXPECT_EQ(Contents(root.Folder()), before);  // no file, folder nor journal
  }
}

}  // namespace
}  // namespace krevo::app
