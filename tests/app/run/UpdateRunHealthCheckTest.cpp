// The machine's health check after each package: a check that fails in any
// way has the package rolled back in the same run and marked bad; one that
// passes leaves it installed; the check cannot write to the root folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;

// Every file below `folder`, by path, with its content and mode.
std::map<std::string, std::string> Tree(const fs::path& folder) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(e.path(), folder).string();
    struct stat st;
    ::lstat(e.path().c_str(), &st);
    tree[name] = std::to_string(st.st_mode) + ":" +
                 (e.is_regular_file() ? ReadFile(e.path().string()) : std::string());
  }
  return tree;
}

constexpr const char* kCheck =
    "#!/bin/sh\n"
    "case \"$1\" in\n"
    "  pass) exit 0 ;;\n"
    "  fail) echo first; echo 'service down'; printf 'esc\\033[2J'; exit 1 ;;\n"
    "  signal) kill -9 $$ ;;\n"
    "  hang) sleep 30 ;;\n"
    "  write) touch made-by-check ;;\n"
    "esac\n";

TEST(UpdateRunHealthCheck, AFailedCheckRollsThePackageBackAndMarksItBad) {
  if (::geteuid() != 0) GTEST_SKIP() << "the check runs as nobody: only root can change users";
  const struct {
    const char* arg;
    const char* failure;  // empty: the check passes
    const char* output;
  } cases[] = {
      {"pass", "", ""},
      {"fail", "exited with status 1", "first\\nservice down\\nesc\\x1b[2J"},
      {"signal", "was killed by signal 9", ""},
      {"hang", "did not finish within 1 second", ""},
      {"write", "exited with status 1", "Permission denied"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.arg);
    UpdateSite site;
    site.WriteConfig(std::string("HealthCheck=check.sh ") + tc.arg +
                     "\r\nHealthCheckTimeout=1\r\nMetricsFile=metrics.prom\r\n");
    ::chmod(site.install.Write("check.sh", kCheck).c_str(), 0755);
    fs::create_directories(site.install / "app");
    site.install.Write("app/kept.txt", "old");
    SetModified(site.install / "app/kept.txt", LocalTime(2001, 1, 1));
    site.AddPackage("261208", {{"app/kept.txt", "new", LocalTime(2026, 12, 8)},
                               {"app/deep/added.txt", "added", LocalTime(2026, 12, 8)}});
    const auto before = Tree(site.install / "app");

    const RunResult r = site.Run();
    const std::string log = site.Log();
    ASSERT_TRUE(fs::exists(site.install / "updates-status.json")) << r.out << r.err << log;
    const nlohmann::json status =
        nlohmann::json::parse(ReadFile(site.install / "updates-status.json"));
    const std::string metrics = ReadFile(site.install / "metrics.prom");
    const std::string line =
        std::string("Health check of up261208.zip failed: check.sh ") + tc.failure;
    if (!*tc.failure) {
      EXPECT_EQ(r.exitCode, 0) << r.err << log;
      EXPECT_EQ(ReadFile(site.install / "app/kept.txt"), "new");
      EXPECT_EQ(log.find("Health check"), std::string::npos) << log;
      EXPECT_NE(metrics.find("krevo_updater_rollbacks_total{reason=\"health_check\"} 0\n"),
                std::string::npos);
      continue;
    }
    EXPECT_EQ(r.exitCode, 4) << r.err << log;
    EXPECT_EQ(Tree(site.install / "app"), before);
    EXPECT_FALSE(fs::exists(site.install / "made-by-check"));
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_NE(log.find(tc.output), std::string::npos) << log;
    EXPECT_NE(log.find("; rolled back.\r\n"), std::string::npos) << log;
    EXPECT_NE(r.out.find("up261208.zip ... rolled back\n"), std::string::npos) << r.out;
    EXPECT_EQ(status["packages"][0]["ending"], "rolled back");
    EXPECT_EQ(status["health_check"].get<std::string>().rfind(line, 0), 0u) << status.dump();
    EXPECT_NE(metrics.find("krevo_updater_rollbacks_total{reason=\"health_check\"} 1\n"),
              std::string::npos)
        << metrics;

    // Marked bad: the next run does not take it again.
    const RunResult again = site.Run();
    EXPECT_EQ(again.exitCode, 0) << again.err << site.Log();
    EXPECT_EQ(Tree(site.install / "app"), before);
    EXPECT_EQ(site.Log().find("Health check", log.size()), std::string::npos) << site.Log();
  }
}

}  // namespace
}  // namespace krevo::test
