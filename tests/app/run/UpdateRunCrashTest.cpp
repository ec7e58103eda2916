// The updater killed with SIGKILL, as a power cut would stop it, at steps of
// an installation (a preloaded shim counts the file-system steps): the next
// start, with the server out of reach, leaves the package wholly old or
// wholly new and nothing of it hidden, and a normal run then installs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>

#include "base/FileDescriptor.h"
#include "tests/app/support/PowerCutFileSystem.h"
#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;

// Twenty entries: files the installation has (older, so replaced), one it
// has newer (kept), and files added in folders the package makes.
std::vector<PackageFile> Package() {
  std::vector<PackageFile> files = {{"kept.txt", "package's kept", LocalTime(2008, 3, 7)}};
  for (int i = 0; i < 8; ++i)
    files.push_back(
        {"bin/f" + std::to_string(i), "new " + std::to_string(i), LocalTime(2008, 3, 7)});
  for (int i = 0; i < 11; ++i)
    files.push_back({"added/deep/a" + std::to_string(i), "added", LocalTime(2008, 3, 7)});
  return files;
}

// Makes a file whose data a power cut cannot take back.
void Durable(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
  base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(fd && ::fsync(fd.get()) == 0) << path;
}

// The installation in `root` before the package, and the package on the server.
void LayOut(UpdateSite& site, const std::string& root) {
  fs::create_directories(root + "bin");
  for (int i = 0; i < 8; ++i) {
    const std::string name = root + "bin/f" + std::to_string(i);
    Durable(name, "old " + std::to_string(i));
    SetModified(name, LocalTime(2001, 1, 1));
  }
  Durable(root + "kept.txt", "installed kept");
  SetModified(root + "kept.txt", LocalTime(2020, 1, 1));
  site.AddPackage("080307", Package());
}

// "old", "new", or the files that are neither, from the package's files in `root`.
std::string StateOf(const std::string& root) {
  std::set<std::string> states;
  for (const PackageFile& f : Package()) {
    const std::string path = root + f.name;
    const bool added = f.name.starts_with("added/");
    const std::string now = fs::exists(path) ? ReadFile(path) : "(none)";
    if (f.name == "kept.txt") {
      if (now != "installed kept") states.insert(f.name + " replaced");
    } else if (now == f.content) {
      states.insert("new");
    } else if (now == (added ? "(none)" : "old " + f.name.substr(5))) {
      states.insert("old");
    } else {
      states.insert(f.name + " holds " + std::to_string(now.size()) + " bytes");
    }
  }
  if (states == std::set<std::string>{"old"} && fs::exists(root + "added"))
    states.insert("a folder of the package is left");
  std::string text;
  for (const std::string& s : states) text += (text.empty() ? "" : ", ") + s;
  return text;
}

// The hidden files left but the journal and the backups of a package in place.
std::vector<std::string> Leftovers(const std::string& root) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().filename().string();
    if (name.starts_with(".krevo-") &&
        !std::regex_match(
            name,
            std::regex(R"(\.krevo-update\.journal|\.krevo-index\.state|\.krevo-[0-9a-f]+-b\d+)")))
      names.push_back(e.path().string());
  }
  return names;
}

// Empties `root` for the next case (the mounted file system serves them all).
void Empty(const std::string& root) {
  for (const auto& e : fs::directory_iterator(root)) fs::remove_all(e.path());
}

std::vector<std::string> ShimEnv(const std::string& setting) {
  // The sanitizers' runtime would rather come first; the shim has none.
  return {"LD_PRELOAD=" KREVO_CRASH_SHIM, "ASAN_OPTIONS=verify_asan_link_order=0", setting};
}

// Kills the updater at steps of an installation into `root` (with a power
// cut right after each kill, when `fuse` is given, losing in turn what each
// model of the file system loses); after each, a start with the server out
// of reach must leave the package old or new, whole.
void KillAtSteps(const std::function<std::string(UpdateSite&)>& rootOf, PowerCutFileSystem* fuse) {
  long steps = 0;
  {
    UpdateSite probe;
    const std::string root = rootOf(probe);
    LayOut(probe, root);
    probe.env = ShimEnv("KREVO_CRASH_COUNT=" + probe.tmp / "count");
    ASSERT_EQ(probe.Run().exitCode, 0);
    ASSERT_EQ(StateOf(root), "new");
    steps = std::stol(ReadFile(probe.tmp / "count"));
    if (fuse) Empty(root);
  }
  ASSERT_GT(steps, 20);
  using TLoss = PowerCutFileSystem::TLoss;
  const TLoss losses[] = {TLoss::Lost, TLoss::Torn, TLoss::Data};
  // The first steps one by one, then some spread over the rest, the last too.
  std::vector<long> at = {1, 2, 3, 4};
  for (long s = 6; s < steps; s += std::max(1L, steps / 8)) at.push_back(s);
  at.push_back(steps);
  std::set<std::string> seen;
  for (const long step : at) {
    SCOPED_TRACE("killed at step " + std::to_string(step) + " of " + std::to_string(steps));
    UpdateSite site;
    const std::string root = rootOf(site);
    LayOut(site, root);
    if (fuse) PowerCutFileSystem::Flush(root);
    site.env = ShimEnv("KREVO_CRASH_AT=" + std::to_string(step));
    const RunResult killed = site.Run();
    ASSERT_EQ(killed.exitCode, 128 + SIGKILL) << killed.err;
    if (fuse) fuse->PowerCut(losses[step % 3]);
    site.env.clear();
    site.StopServer();
    const RunResult recovered = site.Run();
    EXPECT_EQ(recovered.exitCode, 3) << recovered.err;
    const std::string state = StateOf(root);
    EXPECT_TRUE(state == "old" || state == "new") << state;
    seen.insert(state);
    EXPECT_EQ(Leftovers(root), std::vector<std::string>());
    site.RestartServer({});
    rootOf(site);  // config.ini names the new port, and the root again
    const RunResult next = site.Run();
    EXPECT_TRUE(next.exitCode == 0) << next.err;
    EXPECT_EQ(StateOf(root), "new") << next.out << next.err;
    if (fuse) {
      Empty(root);
      PowerCutFileSystem::Flush(root);
    }
  }
  EXPECT_EQ(seen, (std::set<std::string>{"old", "new"}));
}

TEST(UpdateRunCrash, AKillAtAnyStepOfAnInstallLeavesTheOldOrTheNewPackage) {
  KillAtSteps([](UpdateSite& site) { return site.install.Folder(); }, nullptr);
}

// On a file system that loses what was not flushed, as a disk does when the
// power goes: no replaced or added file is left empty or partial.
TEST(UpdateRunCrash, APowerCutAtAnyStepOfAnInstallLeavesTheOldOrTheNewPackage) {
  PowerCutFileSystem fuse;
  if (!fuse.Mounted())
    GTEST_SKIP() << "needs root, /dev/fuse and python3-pyfuse3 for a file system that loses "
                    "unflushed data";
  KillAtSteps(
      [&fuse](UpdateSite& site) {
        const std::string root = fuse.Root();
        site.WriteConfig("[Documents]\r\nRootFolder=" + root +
                         "\r\n[Reports]\r\nRootFolder=" + root + "\r\n");
        return root;
      },
      &fuse);
}

}  // namespace
}  // namespace krevo::test
