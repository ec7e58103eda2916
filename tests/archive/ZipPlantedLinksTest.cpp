// Links that another user plants below the base folder, in a folder of it
// that they can write, while root extracts: an entry whose path meets one
// fails on its own, and nothing is written where the link leads.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "archive/ZipArchiver.h"
#include "base/FolderBeneath.h"
#include "tests/archive/ArchiveTestSupport.h"

namespace krevo::archive {
namespace {

using test::ReadFile;
using test::Shell;
using test::TempFolder;

struct PlantedLink {
  const char* label;
  // Run as nobody in base/shared: $T is a folder of root's they cannot
  // write, $S a file only root can read or write.
  const char* plant;
  const char* entry;  // the one entry of the package, "packaged\n" for a file
  bool fails;
  friend void PrintTo(const PlantedLink& c, std::ostream* os) { *os << c.label; }
};

const PlantedLink kPlanted[] = {
    {"a folder of the path is a link", "ln -s \"$T\" sub", "shared/sub/evil.txt", true},
    {"folders to make below a link", "ln -s \"$T\" sub", "shared/sub/new/evil.txt", true},
    {"a folder entry below a link", "ln -s \"$T\" sub", "shared/sub/new/", true},
    {"a link in a folder they made", "mkdir own && ln -s \"$T\" own/sub", "shared/own/sub/evil.txt",
     true},
    {"a link to a link to the folder", "ln -s \"$T\" one && ln -s one sub", "shared/sub/evil.txt",
     true},
    {"the destination links to a root-only file", "ln -s \"$S\" a.txt", "shared/a.txt", true},
    {"the destination links to where nothing is", "ln -s \"$T/made.txt\" a.txt", "shared/a.txt",
     true},
    // What they may do: their own files are replaced, their folders filled.
    {"a file of theirs", "echo theirs > a.txt", "shared/a.txt", false},
    {"a folder of theirs", "mkdir sub", "shared/sub/a.txt", false},
};

class PlantedLinks : public ::testing::TestWithParam<PlantedLink> {};

TEST_P(PlantedLinks, AreNeverFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to play another user with setpriv";
  if (std::system("setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null") != 0)
    GTEST_SKIP() << "the user nobody (group nogroup) is not available to setpriv";
  const PlantedLink& c = GetParam();
  for (bool openat2 : {true, false}) {
    SCOPED_TRACE(openat2 ? "openat2 where the kernel has it" : "the walk with O_NOFOLLOW");
    TempFolder dir;
    Shell(dir.Path(),
          "chmod 0755 . && mkdir -m 0755 base target && mkdir -m 0777 base/shared"
          " && printf 'secret\\n' > secret && chmod 0600 secret"
          " && /usr/bin/python3 -c \"import sys, zipfile; zipfile.ZipFile('p.zip', 'w')"
          ".writestr(sys.argv[1], '' if sys.argv[1].endswith('/') else 'packaged\\n')\" '" +
              std::string(c.entry) + "'");
    Shell(dir / "base/shared", "T='" + dir / "target" + "' S='" + dir / "secret" +
                                   "' setpriv --reuid=nobody --regid=nogroup --clear-groups"
                                   " sh -c '" +
                                   c.plant + "'");
    const std::string planted = Shell(dir.Path(), "find base -printf '%p %y %l\\n' | sort");
    base::UseOpenat2(openat2);
    TZipArchiver zip;
    zip.FileName = dir / "p.zip";
    zip.BaseDir = dir / "base";
    std::vector<std::string> failed;
    zip.OnProcessFileFailure = [&](TZipBaseArchiver*, const std::string& name, TZipProcessOperation,
                                   int native, int, const std::string&, TZipAction& action) {
      failed.push_back(name + " " + std::to_string(native));
      action = fxaIgnore;
    };
    zip.OpenArchiveFile(0);
    zip.ExtractMatching();
    base::UseOpenat2(true);
    EXPECT_EQ(failed.size(), c.fails ? 1u : 0u) << ::testing::PrintToString(failed);
    // Nothing where the links lead, and the links themselves are left.
    EXPECT_EQ(Shell(dir.Path(), "find target -mindepth 1"), "");
    EXPECT_EQ(ReadFile(dir / "secret"), "secret\n");
    if (c.fails) {
      EXPECT_EQ(Shell(dir.Path(), "find base -printf '%p %y %l\\n' | sort"), planted);
    } else {
      EXPECT_EQ(ReadFile(dir / ("base/" + std::string(c.entry))), "packaged\n");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Planted, PlantedLinks, ::testing::ValuesIn(kPlanted), test::LabelName());

}  // namespace
}  // namespace krevo::archive
