// The status record away from any run: what a damaged or planted previous
// file carries over, the figures carried from run to run, and the journal
// entry's fields.
#include <gtest/gtest.h>

#include "app/report/JournalFields.h"
#include "app/report/RunStatus.h"

namespace krevo::app {
namespace {

// A status file as a run writes it, with `change` applied to its text.
std::string Written(const std::string& from = "", const std::string& to = "") {
  TRunStatus s;
  s.updaterVersion = "1.0.0.0";
  s.runStarted = 1'800'000'000;
  s.runFinished = 1'800'000'060;
  s.outcome = "failed";
  s.exitStatus = 4;
  s.message = "Refused to install up090101.zip: bad signature.";
  s.packages = {{"up090101.zip", "bad signature"}};
  s.lastSuccess = 1'700'000'000;
  s.consecutiveFailures = 3;
  s.packagesInstalledTotal = 7;
  s.source = "ftp://127.0.0.1:21";
  s.heldByPhase = {"up090102.zip"};
  s.heldCount = 1;
  std::string text = RunStatusJson(s);
  if (!from.empty()) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
  }
  return text;
}

TEST(RunStatusFile, ADamagedOrHostileFileCountsAsAbsent) {
  struct Case {
    const char* what;
    std::string text;
    bool taken;
  };
  const std::vector<Case> cases = {
      {"as written", Written(), true},
      {"empty", "", false},
      {"cut short", Written().substr(0, Written().size() / 2), false},
      {"not an object", "[1, 2, 3]", false},
      {"another schema", Written("\"schema\": 1", "\"schema\": 2"), false},
      {"a negative count", Written("\"consecutive_failures\": 3", "\"consecutive_failures\": -3"),
       false},
      {"a count no run reaches",
       Written("\"consecutive_failures\": 3", "\"consecutive_failures\": 18446744073709551615"),
       false},
      {"a count as text", Written("\"consecutive_failures\": 3", "\"consecutive_failures\": \"3\""),
       false},
      {"a fractional total",
       Written("\"packages_installed_total\": 7", "\"packages_installed_total\": 7.5"), false},
      {"an impossible date", Written("2023-11-14T22:13:20Z", "2023-02-30T22:13:20Z"), false},
      {"a local time", Written("2023-11-14T22:13:20Z", "2023-11-14T22:13:20+01:00"), false},
      {"a package that is no object", Written("{\n      \"ending\"", "[{\"x\": 1}, {\n\"ending\""),
       false},
      {"a held package that is no name", Written("\"up090102.zip\"\n  ]", "1\n  ]"), false},
      {"fewer held than named", Written("\"held_count\": 1", "\"held_count\": 0"), false},
      {"no success yet", Written("\"2023-11-14T22:13:20Z\"", "null"), true},
      {"deeply nested", std::string(100000, '[') + std::string(100000, ']'), false},
      {"a raw control character", Written("bad signature.", "bad\x1b[2J signature."), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<TRunStatus> s = ParseRunStatus(c.text);
    ASSERT_EQ(s.has_value(), c.taken);
    if (!s) continue;
    EXPECT_EQ(s->consecutiveFailures, 3u);
    EXPECT_EQ(s->packagesInstalledTotal, 7u);
    EXPECT_EQ(s->lastSuccess.has_value(), c.text.find("null") == std::string::npos);
    EXPECT_EQ(RunStatusJson(*s), c.text);  // read back as written
  }
}

TEST(RunStatusFile, FiguresCarryOverFromRunToRun) {
  // Each run's exit status, packages installed and packages rolled back for
  // a failed health check; what the status then says.
  struct Run {
    int exitStatus;
    int installed;
    std::string outcome;
    std::uint64_t failuresInARow;
    std::optional<std::int64_t> lastSuccess;
    std::uint64_t installedInAll;
    int rolledBack;  // for a failed health check
    std::uint64_t rolledBackInAll;
  };
  const std::vector<Run> runs = {
      {3, 0, "unreachable", 1, std::nullopt, 0, 0, 0},
      {0, 2, "updated", 0, 1002, 2, 0, 0},
      {4, 1, "failed", 1, 1002, 3, 2, 2},
      {2, 0, "in_use", 2, 1002, 3, 0, 2},
      {143, 0, "stopped", 3, 1002, 3, 0, 2},
      {1, 0, "error", 4, 1002, 3, 1, 3},
      {0, 0, "nothing_new", 0, 1007, 3, 0, 3},
  };
  std::optional<TRunStatus> previous;
  std::int64_t clock = 1000;
  for (const Run& run : runs) {
    SCOPED_TRACE(run.outcome);
    TRunRecord record;
    for (int i = 0; i < run.installed; ++i)
      record.AddPackage("up0901" + std::to_string(i), " ... complete");
    record.AddPackage("up091231.zip", " ... failed");
    for (int i = 0; i < run.rolledBack; ++i)
      record.NoteHealthCheck("Health check of up0912" + std::to_string(i) + " failed");
    const TRunStatus s = MakeRunStatus(record, run.exitStatus, ++clock, previous);
    EXPECT_EQ(s.outcome, run.outcome);
    EXPECT_EQ(s.consecutiveFailures, run.failuresInARow);
    EXPECT_EQ(s.lastSuccess, run.lastSuccess);
    EXPECT_EQ(s.packagesInstalledTotal, run.installedInAll);
    EXPECT_EQ(s.packages.back().ending, "failed");
    EXPECT_EQ(s.healthCheckRollbacksTotal, run.rolledBackInAll);
    EXPECT_EQ(s.healthCheck.empty(), run.rolledBack == 0) << s.healthCheck;
    // Carried through the file, as the next run reads it.
    previous = ParseRunStatus(RunStatusJson(s));
    ASSERT_TRUE(previous);
  }
}

// A server that offers a flood of packages, with the longest names and
// messages full of control characters, cannot make the file too large for
// the next run to read back.
TEST(RunStatusFile, AFloodOfPackagesStaysReadable) {
  TRunRecord record;
  const std::string name = "up090101" + std::string(243, '\x1b') + ".zip";
  for (int i = 0; i < 2000; ++i) record.AddPackage(name, i % 2 ? " ... complete" : " ... failed");
  record.NoteError(std::string(100000, '\x01'));
  const TRunStatus s = MakeRunStatus(record, 4, 1000, std::nullopt);
  const std::string text = RunStatusJson(s);
  EXPECT_LT(text.size(), kStatusFileMaxBytes);
  const std::optional<TRunStatus> back = ParseRunStatus(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->packages.size() + back->packagesOmitted, 2000u);
  EXPECT_EQ(back->packagesInstalledTotal, 1000u);
}

TEST(RunStatusFile, TextFromOutsideIsEscapedForAPersonAndKeptValidInTheFile) {
  TRunStatus s;
  s.outcome = "failed";
  s.message = "Failed to download up090101.zip: \x1b[2Jgone\r\nforged line \xff";
  s.packages = {{"up090101\x1b.zip", "failed"}};
  const std::string text = RunStatusText(s);
  EXPECT_NE(text.find("\\x1b[2Jgone\\r\\nforged line"), std::string::npos) << text;
  EXPECT_NE(text.find("up090101\\x1b.zip ... failed"), std::string::npos) << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  // Not UTF-8: the byte is replaced, and the file still reads back.
  const std::optional<TRunStatus> back = ParseRunStatus(RunStatusJson(s));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->message.substr(0, 43), s.message.substr(0, 43));
}

TEST(JournalEntry, FieldsByOutcome) {
  struct Case {
    std::string outcome;
    int exitStatus;
    const char* priority;
  };
  for (const Case& c : std::vector<Case>{{"updated", 0, "6"},
                                         {"nothing_new", 0, "6"},
                                         {"failed", 4, "4"},
                                         {"in_use", 2, "4"},
                                         {"stopped", 143, "5"},
                                         {"unreachable", 3, "3"},
                                         {"error", 1, "3"}}) {
    SCOPED_TRACE(c.outcome);
    TRunStatus s;
    s.outcome = c.outcome;
    s.exitStatus = c.exitStatus;
    s.message = c.exitStatus ? "Read Timeout.\nsecond line" : "";
    s.packages = {{"up090101.zip", "complete"}, {"up090102.zip", "bad signature"}};
    // A failed run had a health check fail: its line, escaped.
    if (c.exitStatus == 4) s.healthCheck = "Health check of up090103.zip failed: \x1b[2J";
    const std::string message = "MESSAGE=Update run ended: " + c.outcome + " (exit status " +
                                std::to_string(c.exitStatus) + ")" +
                                (c.exitStatus ? ": Read Timeout.\\nsecond line" : "");
    std::vector<std::string> expected = {message,
                                         std::string("PRIORITY=") + c.priority,
                                         "SYSLOG_IDENTIFIER=krevo-updater",
                                         "KREVO_OUTCOME=" + c.outcome,
                                         "KREVO_EXIT_STATUS=" + std::to_string(c.exitStatus),
                                         "KREVO_PACKAGE=up090101.zip ... complete",
                                         "KREVO_PACKAGE=up090102.zip ... bad signature"};
    if (c.exitStatus == 4)
      expected.push_back("KREVO_HEALTH_CHECK=Health check of up090103.zip failed: \\x1b[2J");
    EXPECT_EQ(JournalFields(s), expected);
  }
}

}  // namespace
}  // namespace krevo::app
