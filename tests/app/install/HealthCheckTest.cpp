// The check runner: which paths it refuses before anything runs, and what a
// check sees and leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/install/HealthCheck.h"
#include "base/FileDescriptor.h"
#include "tests/support/TempDir.h"

namespace krevo::app {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(HealthCheck, RunsOnlyAProgramBelowTheRootFolderAsItsUserWithNothingInherited) {
  if (::geteuid() != 0) GTEST_SKIP() << "the check changes its user: only root can";
  TempDir outside;
  TempDir root;
  ::chmod(root.Folder().c_str(), 0755);
  fs::create_directories(root / "sub");
  const auto script = [&](const std::string& name, const std::string& body) {
    ::chmod(root.Write(name, "#!/bin/sh\n" + body).c_str(), 0755);
  };
  // The shell adds PWD itself. Open: its standard three, the program's own
  // and the listing's folder.
  script("sub/id.sh",
         "echo $(id -u) $(id -G) \"$(env | grep -v '^PWD=')\" \"$(pwd)\" \"$(cat)\" $(ls "
         "/proc/self/fd | wc -l)\n");
  script("sub/flood.sh", "i=0; while [ $i -lt 3000 ]; do echo line $i; i=$((i+1)); done; exit 2\n");
  script("sub/orphan.sh", "(sleep 30; echo late) & exit 0\n");
  ::chmod(outside.Write("out.sh", "#!/bin/sh\nexit 0\n").c_str(), 0755);
  fs::create_symlink(outside / "out.sh", root / "sub/link.sh");
  fs::create_symlink(outside.Folder(), root / "away");
  ::mkfifo((root / "sub/fifo").c_str(), 0644);
  const base::UniqueFd rootFd(::open(root.Folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const TCheckUser nobody = CheckUser();

  const struct {
    std::string path;
    const char* failure;  // empty: passed
    std::string output;   // the start of the kept output
  } cases[] = {
      {"sub/id.sh", "",
       std::to_string(nobody.uid) + " " + std::to_string(nobody.gid) + " PATH=/usr/bin:/bin " +
           root.Folder().substr(0, root.Folder().size() - 1) + "  5"},
      {root / "sub/id.sh", "", ""},
      {"sub/flood.sh", "exited with status 2",
       "line 2995\\nline 2996\\nline 2997\\nline 2998\\nline 2999"},
      // Its end is its own, not that of what it left holding the output.
      {"sub/orphan.sh", "", ""},
      {"../" + fs::path(outside.Folder()).parent_path().filename().string() + "/out.sh",
       "cannot be run: the folder of ../", ""},
      {outside / "out.sh", "cannot be run: ", ""},
      {"sub/link.sh", "cannot be run: sub/link.sh cannot be opened", ""},
      {"away/out.sh", "cannot be run: the folder of away/out.sh", ""},
      {"sub/fifo", "cannot be run: sub/fifo is not a regular file", ""},
      {"sub", "cannot be run: sub is not a regular file", ""},
      {"", "cannot be run: ", ""},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.path);
    const THealthCheckEnd end = RunHealthCheck(rootFd.get(), root.Folder(), tc.path, {}, 5, nobody);
    EXPECT_EQ(end.passed, !*tc.failure) << end.failure << " " << end.output;
    EXPECT_EQ(end.failure.rfind(tc.failure, 0), 0u) << end.failure;
    EXPECT_EQ(end.output.rfind(tc.output, 0), 0u) << end.output;
    EXPECT_LE(end.output.size(), kKeptOutputBytes * 4);
  }
}

}  // namespace
}  // namespace krevo::app
