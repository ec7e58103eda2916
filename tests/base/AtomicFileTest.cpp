// The temporary files of a replacement that a killed process left: only the
// updater's own are removed, whatever else shares the folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "base/AtomicFile.h"
#include "base/FileDescriptor.h"
#include "base/FileSystem.h"
#include "tests/support/TempDir.h"

namespace krevo::base {
namespace {

namespace fs = std::filesystem;

TEST(AtomicFile, OnlyTheLeftoversOfTheNamedFileAreRemoved) {
  struct Case {
    std::string name;
    bool removed;
  };
  const std::vector<Case> cases = {
      {".krevo-updates-status.json.0123456789ab", true},
      {".krevo-updates-status.json.ffffffffffff", true},
      // Not a replacement's: too short or long a suffix, upper case, another file's,
      // a package file staged beside its destination, the install journal.
      {".krevo-updates-status.json.0123456789a", false},
      {".krevo-updates-status.json.0123456789abc", false},
      {".krevo-updates-status.json.0123456789AB", false},
      {".krevo-updates-status.json.0123456789ag", false},
      {".krevo-updates-status.jsonx0123456789ab", false},
      {".krevo-other.json.0123456789ab", false},
      {".krevo-updates-status.json.1234-5", false},
      {".krevo-update.journal", false},
      {"updates-status.json", false},
  };
  test::TempDir dir;
  for (const Case& c : cases) dir.Write(c.name, "x");
  // A folder and a link with a leftover's name are not the updater's files.
  fs::create_directory(dir / ".krevo-updates-status.json.aaaaaaaaaaaa");
  fs::create_symlink(dir / "updates-status.json", dir / ".krevo-updates-status.json.bbbbbbbbbbbb");
  const UniqueFd folder = OpenFolder(dir.Folder());
  ASSERT_TRUE(folder);
  EXPECT_EQ(RemoveReplaceLeftovers(folder.get(), "updates-status.json"), 2);
  for (const Case& c : cases) EXPECT_EQ(fs::exists(dir / c.name), !c.removed) << c.name;
  EXPECT_TRUE(fs::is_directory(dir / ".krevo-updates-status.json.aaaaaaaaaaaa"));
  EXPECT_TRUE(fs::is_symlink(dir / ".krevo-updates-status.json.bbbbbbbbbbbb"));
}

}  // namespace
}  // namespace krevo::base
