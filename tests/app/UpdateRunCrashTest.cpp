// The updater killed with SIGKILL, as a power cut would stop it, at steps of
// an installation (a preloaded shim counts the file-system steps): the next
// start, with the server out of reach, leaves the package wholly old or
// wholly new and nothing of it hidden, and a normal run then installs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "tests/app/UpdateSite.h"

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

void LayOut(UpdateSite& site) {
  fs::create_directories(site.install / "bin");
  for (int i = 0; i < 8; ++i) {
    const std::string name = "bin/f" + std::to_string(i);
    site.install.Write(name, "old " + std::to_string(i));
    SetModified(site.install / name, LocalTime(2001, 1, 1));
  }
  site.install.Write("kept.txt", "installed kept");
  SetModified(site.install / "kept.txt", LocalTime(2020, 1, 1));
  site.AddPackage("080307", Package());
}

// "old", "new" or what is mixed, from the package's files.
std::string StateOf(const UpdateSite& site) {
  std::set<std::string> states;
  for (const PackageFile& f : Package()) {
    if (f.name == "kept.txt") {
      if (ReadFile(site.install / f.name) != "installed kept") return "kept.txt replaced";
      continue;
    }
    const bool added = f.name.starts_with("added/");
    if (!fs::exists(site.install / f.name))
      states.insert(added ? "old" : f.name + " missing");
    else if (ReadFile(site.install / f.name) == f.content)
      states.insert("new");
    else
      states.insert(added ? f.name + " damaged" : "old");
  }
  if (states.count("old") && !fs::exists(site.install / "added")) states.insert("old");
  std::string text;
  for (const std::string& s : states) text += (text.empty() ? "" : ", ") + s;
  return text;
}

// The hidden files left but the journal and the backups of a package in place.
std::vector<std::string> Leftovers(const UpdateSite& site) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(site.install.Folder())) {
    const std::string name = e.path().filename().string();
    if (name.starts_with(".krevo-") &&
        !std::regex_match(name, std::regex(R"(\.krevo-update\.journal|\.krevo-[0-9a-f]+-b\d+)")))
      names.push_back(e.path().string());
  }
  return names;
}

std::vector<std::string> ShimEnv(const std::string& setting) {
  // The sanitizers' runtime would rather come first; the shim has none.
  return {"LD_PRELOAD=" KREVO_CRASH_SHIM, "ASAN_OPTIONS=verify_asan_link_order=0", setting};
}

TEST(UpdateRunCrash, AKillAtAnyStepOfAnInstallLeavesTheOldOrTheNewPackage) {
  long steps = 0;
  {
    UpdateSite probe;
    LayOut(probe);
    probe.env = ShimEnv("KREVO_CRASH_COUNT=" + probe.tmp / "count");
    ASSERT_EQ(probe.Run().exitCode, 0);
    ASSERT_EQ(StateOf(probe), "new");
    steps = std::stol(ReadFile(probe.tmp / "count"));
  }
  ASSERT_GT(steps, 20);
  // The first steps one by one, then some spread over the rest, the last too.
  std::vector<long> at = {1, 2, 3, 4};
  for (long s = 6; s < steps; s += std::max(1L, steps / 8)) at.push_back(s);
  at.push_back(steps);
  std::set<std::string> seen;
  for (const long step : at) {
    SCOPED_TRACE("killed at step " + std::to_string(step) + " of " + std::to_string(steps));
    UpdateSite site;
    LayOut(site);
    site.env = ShimEnv("KREVO_CRASH_AT=" + std::to_string(step));
    const RunResult killed = site.Run();
    ASSERT_EQ(killed.exitCode, 128 + SIGKILL) << killed.err;
    site.env.clear();
    site.StopServer();
    const RunResult recovered = site.Run();
    EXPECT_EQ(recovered.exitCode, 3) << recovered.err;
    const std::string state = StateOf(site);
    EXPECT_TRUE(state == "old" || state == "new") << state;
    seen.insert(state);
    EXPECT_EQ(Leftovers(site), std::vector<std::string>());
    site.RestartServer({});
    const RunResult next = site.Run();
    EXPECT_TRUE(next.exitCode == 0) << next.err;
    EXPECT_EQ(StateOf(site), "new");
  }
  EXPECT_EQ(seen, (std::set<std::string>{"old", "new"}));
}

}  // namespace
}  // namespace krevo::test
