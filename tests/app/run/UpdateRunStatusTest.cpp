// What a run leaves for the people and programs that watch many
// installations: updates-status.json in the root folder after real runs of
// the built krevo-updater against a real FTP server, the metrics file as a
// Prometheus parser reads it, and krevo-updater --status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "tests/app/support/SmallFileSystem.h"
#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The names in the installation folder, to see that nothing else was left.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& f : fs::directory_iterator(folder)) names.push_back(f.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The environment that kills the updater just before the first `call` on a
// path holding `name` (tests/support/CrashShim.c).
std::vector<std::string> KillAt(const std::string& call, const std::string& name) {
  return {"LD_PRELOAD=" KREVO_CRASH_SHIM, "ASAN_OPTIONS=verify_asan_link_order=0",
          "KREVO_KILL_CALL=" + call, "KREVO_KILL_NAME=" + name};
}

// The hidden temporary files in `folder`.
std::vector<std::string> Hidden(const std::string& folder) {
  std::vector<std::string> names;
  for (const std::string& name : Names(folder))
    if (name.starts_with(".krevo-")) names.push_back(name);
  return names;
}

TEST(UpdateRunStatus, EachOutcomeLeavesItsStatusFile) {
  struct Case {
    const char* outcome;
    std::function<void(UpdateSite&)> setUp;
    int exitStatus;
    std::string message;  // the start of the message
    json packages;
  };
  const std::vector<Case> cases = {
      {"updated",
       [](UpdateSite& s) {
         s.AddPackage("090101", {{"a.bin", Noise(40000, 1), LocalTime(2009, 1, 1)}});
       },
       0, "", json::parse(R"([{"name": "up090101.zip", "ending": "complete"}])")},
      {"nothing_new", [](UpdateSite&) {}, 0, "", json::array()},
      {"failed",
       [](UpdateSite& s) {
         s.AddPackage("090101", {{"a.bin", Noise(40000, 1), LocalTime(2009, 1, 1)}});
         std::ofstream(s.serverRoot / "krevo/updates/up090102.zip") << "no archive at all";
       },
       4, "Failed to install up090102.zip: ",
       json::parse(R"([{"name": "up090101.zip", "ending": "complete"},
                       {"name": "up090102.zip", "ending": "failed"}])")},
      {"error", [](UpdateSite& s) { fs::remove(s.serverRoot / "krevo/updates"); }, 1,
       "No such file or directory.", json::array()},
      {"in_use", [](UpdateSite& s) { fs::remove(s.install / "krevo.exe"); }, 2, "Could not open ",
       json::array()},
      {"unreachable", [](UpdateSite& s) { s.StopServer(); }, 3, "", json::array()},
      {"stopped", [](UpdateSite&) {}, 128 + SIGTERM, "", json::array()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outcome);
    UpdateSite site;
    const std::string source = "ftp://127.0.0.1:" + std::to_string(site.Port());
    c.setUp(site);
    const auto before = std::chrono::system_clock::now() - std::chrono::seconds(1);
    // The stopped run is told to close before its timer goes off.
    RunResult r =
        c.exitStatus == 128 + SIGTERM
            ? site.Run([&] { return site.Log().find("Scan started") != std::string::npos; },
                       SIGTERM)
            : site.Run();
    ASSERT_EQ(r.exitCode, c.exitStatus) << r.err;
    const json s = StatusOf(site);
    ASSERT_TRUE(s.is_object()) << ReadFile(site.install / "updates-status.json");
    EXPECT_EQ(s["schema"], 1);
    EXPECT_EQ(s["outcome"], c.outcome);
    EXPECT_EQ(s["exit_status"], c.exitStatus);
    EXPECT_EQ(s["packages"], c.packages);
    EXPECT_EQ(s["source"], source);
    EXPECT_FALSE(s.contains("index_sequence"));
    const std::string message = s["message"];
    // The unreachable run's message is the socket's error, whatever its text.
    EXPECT_EQ(message.empty(), c.message.empty() && c.exitStatus != 3) << message;
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
    EXPECT_EQ(s["consecutive_failures"], c.exitStatus == 0 ? 0 : 1);
    EXPECT_EQ(s["last_success"].is_null(), c.exitStatus != 0);
    EXPECT_EQ(s["packages_installed_total"], c.packages.size() > 0 ? 1 : 0);
    // The first package alone is 40000 bytes that do not compress.
    EXPECT_EQ(s["bytes_downloaded"] > 40000, c.packages.size() > 0) << s["bytes_downloaded"];
    const std::string started = s["run_started"], finished = s["run_finished"];
    EXPECT_LE(started, finished);
    const std::time_t t = std::chrono::system_clock::to_time_t(before);
    char earliest[32];
    std::strftime(earliest, sizeof earliest, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));
    EXPECT_GE(started, std::string(earliest));
    // Replaced whole: no temporary name is left beside it.
    for (const std::string& name : Names(site.install.Folder()))
      EXPECT_FALSE(name.starts_with(".krevo-updates-status")) << name;
  }
}

// The failures in a row and the last success are carried from run to run, a
// planted or damaged previous file is taken as absent, and a killed run
// leaves the previous file as it was.
TEST(UpdateRunStatus, CarriedOverFromRunToRunAndKeptWholeByAKilledRun) {
  UpdateSite site;
  // Planted: a link to a file that claims many failures; it is neither
  // followed nor believed.
  const std::string secret = site.tmp.Write(
      "secret", R"({"schema": 1, "consecutive_failures": 41, "last_success": null})");
  fs::create_symlink(secret, site.install / "updates-status.json");
  site.StopServer();
  ASSERT_EQ(site.Run().exitCode, 3);
  EXPECT_EQ(ReadFile(secret), R"({"schema": 1, "consecutive_failures": 41, "last_success": null})");
  EXPECT_FALSE(fs::is_symlink(site.install / "updates-status.json"));
  EXPECT_EQ(StatusOf(site)["consecutive_failures"], 1);
  ASSERT_EQ(site.Run().exitCode, 3);
  EXPECT_EQ(StatusOf(site)["consecutive_failures"], 2);
  EXPECT_TRUE(StatusOf(site)["last_success"].is_null());

  site.RestartServer({});
  site.AddPackage("090101", {{"a.bin", Noise(4 << 20, 2), LocalTime(2009, 1, 1)}});
  ASSERT_EQ(site.Run().exitCode, 0);
  const json success = StatusOf(site);
  EXPECT_EQ(success["consecutive_failures"], 0);
  EXPECT_EQ(success["last_success"], success["run_finished"]);
  EXPECT_EQ(success["packages_installed_total"], 1);

  // A rollback is a run too.
  ASSERT_EQ(site.RunWith({"--rollback"}).exitCode, 0);
  const json rollback = StatusOf(site);
  EXPECT_EQ(rollback["action"], "rollback");
  EXPECT_EQ(rollback["outcome"], "nothing_new");
  EXPECT_EQ(rollback["recovery"], "Rolled back up090101.zip");
  EXPECT_EQ(rollback["packages_installed_total"], 1);

  // A run killed while it writes the status file, its new content whole
  // under the temporary name, leaves the previous file as it was.
  const std::string previous = ReadFile(site.install / "updates-status.json");
  site.AddPackage("090102", {{"b.bin", "b", LocalTime(2009, 1, 2)}});
  SetModified(site.install / "updates.log", LocalTime(2009, 1, 1));
  site.env = KillAt("renameat", "updates-status.json");
  ASSERT_EQ(site.Run().exitCode, 128 + SIGKILL);
  site.env.clear();
  EXPECT_EQ(ReadFile(site.install / "b.bin"), "b");  // killed after the install
  EXPECT_EQ(ReadFile(site.install / "updates-status.json"), previous);

  // A damaged file is no previous status either; the next failure counts
  // from one again, and the installed counter from nothing.
  site.install.Write("updates-status.json", previous.substr(0, previous.size() / 2));
  site.StopServer();
  ASSERT_EQ(site.Run().exitCode, 3);
  const json afterDamage = StatusOf(site);
  EXPECT_EQ(afterDamage["consecutive_failures"], 1);
  EXPECT_TRUE(afterDamage["last_success"].is_null());
  EXPECT_EQ(afterDamage["packages_installed_total"], 0);
}

TEST(UpdateRunStatus, TheMetricsFileReadsAsPrometheusText) {
  UpdateSite site;
  fs::create_directory(site.install / "metrics");
  site.WriteConfig("MetricsFile=metrics/krevo.prom\r\n");
  site.runFolder = site.tmp.Folder();  // a relative path is beside the updater, not here
  site.AddPackage("090101", {{"a.bin", Noise(40000, 1), LocalTime(2009, 1, 1)}});
  ASSERT_EQ(site.Run().exitCode, 0);
  site.StopServer();
  ASSERT_EQ(site.Run().exitCode, 3);
  // Every sample with its family's type, as the collector would see it.
  RunResult parsed =
      RunProcess({"/usr/bin/python3", "-c",
                  "import sys\n"
                  "from prometheus_client.parser import text_string_to_metric_families\n"
                  "for f in text_string_to_metric_families(open(sys.argv[1]).read()):\n"
                  "    assert f.documentation, f.name\n"
                  "    for s in f.samples:\n"
                  "        print(s.name, f.type, int(s.value))\n",
                  site.install / "metrics/krevo.prom"},
                 "/");
  ASSERT_EQ(parsed.exitCode, 0) << parsed.err;
  const json s = StatusOf(site);
  const auto seconds = [](const std::string& iso) {
    std::tm tm{};
    ::strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
    return std::to_string(::timegm(&tm));
  };
  EXPECT_EQ(parsed.out, "krevo_updater_last_run_timestamp_seconds gauge " +
                            seconds(s["run_finished"]) +
                            "\n"
                            "krevo_updater_last_success_timestamp_seconds gauge " +
                            seconds(s["last_success"]) +
                            "\n"
                            "krevo_updater_consecutive_failures gauge 1\n"
                            "krevo_updater_last_exit_status gauge 3\n"
                            "krevo_updater_bytes_downloaded gauge 0\n"
                            "krevo_updater_packages_installed_total counter 1\n"
                            "krevo_updater_held_packages gauge 0\n"
                            "krevo_updater_rollbacks_total counter 0\n");
  EXPECT_EQ(Names(site.install / "metrics"), std::vector<std::string>{"krevo.prom"});
  struct stat st;
  ASSERT_EQ(::stat((site.install / "metrics/krevo.prom").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // the collector runs as another user
}

// A run killed between the creation of a file's temporary copy and its
// rename leaves that copy; the next run removes it, and the index state's
// too, but nothing else hidden beside them.
TEST(UpdateRunStatus, WhatARunKilledWhileReplacingAFileLeftIsRemovedByTheNext) {
  struct Case {
    const char* file;    // relative to the installation
    const char* folder;  // where its temporary copy is left
  };
  for (const Case& c : {Case{"updates-status.json", ""}, Case{"metrics/krevo.prom", "metrics"}}) {
    SCOPED_TRACE(c.file);
    UpdateSite site;
    fs::create_directory(site.install / "metrics");
    site.WriteConfig("MetricsFile=metrics/krevo.prom\r\n");
    site.StopServer();
    ASSERT_EQ(site.Run().exitCode, 3);
    const std::string before = ReadFile(site.install / c.file);
    site.env = KillAt("renameat", fs::path(c.file).filename());
    ASSERT_EQ(site.Run().exitCode, 128 + SIGKILL);
    site.env.clear();
    EXPECT_EQ(ReadFile(site.install / c.file), before);
    ASSERT_EQ(Hidden(site.install / c.folder).size(), 1u);
    // Left by a run killed while it saved the index state; and a package's
    // file staged under a hidden name, which is not the updater's to take.
    site.install.Write(".krevo-.krevo-index.state.0123456789ab", "krevo-index-state 1\n");
    site.install.Write(".krevo-updates-status.json.4242-1", "a package's");
    ASSERT_EQ(site.Run().exitCode, 3);
    EXPECT_EQ(Hidden(site.install / c.folder),
              std::string(c.folder).empty()
                  ? std::vector<std::string>{".krevo-updates-status.json.4242-1"}
                  : std::vector<std::string>{});
    EXPECT_NE(ReadFile(site.install / c.file), before);
  }
}

// A status or metrics file that cannot be replaced, on a full disk, is
// removed rather than left to say what an earlier run did, and the run says so.
TEST(UpdateRunStatus, AFileThatCannotBeReplacedIsRemovedNotLeftStale) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
  // The metrics on a disk of their own: the status file's removal frees
  // room that a metrics file beside it would take.
  TempDir rootMount, metricsMount;
  SmallFileSystem rootDisk(rootMount.Folder(), "1m"), metricsDisk(metricsMount.Folder(), "64k");
  if (!rootDisk.Mounted() || !metricsDisk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string root = rootMount.Folder(), metrics = metricsMount.Folder();
  UpdateSite site;
  site.WriteConfig("MetricsFile=" + metrics + "krevo.prom\r\n[Documents]\r\nRootFolder=" + root +
                   "\r\n[Reports]\r\nRootFolder=" + root + "\r\n");
  site.AddPackage("090101", {{"a.txt", "a", LocalTime(2009, 1, 1)}});
  const RunResult first = site.Run();
  ASSERT_EQ(first.exitCode, 0) << first.err;
  ASSERT_TRUE(fs::exists(root + "updates-status.json"));
  ASSERT_TRUE(fs::exists(metrics + "krevo.prom"));
  for (const std::string& disk : {root, metrics}) {
    std::ofstream fill(disk + "fill", std::ios::binary);
    const std::string block(65536, 'x');
    for (int i = 0; i < 64 && fill; ++i) fill.write(block.data(), block.size()), fill.flush();
  }
  const RunResult full = site.Run();
  EXPECT_NE(full.exitCode, 0) << full.err;
  for (const std::string& file : {root + "updates-status.json", metrics + "krevo.prom"}) {
    EXPECT_FALSE(fs::exists(file)) << file;
    EXPECT_NE(full.err.find(fs::path(file).filename().string() + " could not be written ("),
              std::string::npos)
        << full.err;
  }
  EXPECT_NE(full.err.find("The old one was removed."), std::string::npos) << full.err;
  // No temporary copy is left; the install journal and the index state are
  // not a report's.
  for (const std::string& disk : {root, metrics})
    for (const std::string& name : Hidden(disk))
      EXPECT_TRUE(name == ".krevo-update.journal" || name == ".krevo-index.state") << name;
  const RunResult status = site.RunWith({"--status"});
  EXPECT_EQ(status.exitCode, 1);
  EXPECT_NE(status.err.find("There is no update status yet"), std::string::npos) << status.err;
}

TEST(UpdateRunStatus, TheStatusCommandReadsAndWritesNothing) {
  UpdateSite site;
  const std::vector<std::string> before = Names(site.install.Folder());
  RunResult none = site.RunWith({"--status"});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_NE(none.err.find("There is no update status yet"), std::string::npos) << none.err;
  EXPECT_EQ(site.RunWith({"--status", "--json"}).exitCode, 1);
  EXPECT_EQ(Names(site.install.Folder()), before);  // no log, no status

  ASSERT_EQ(site.Run().exitCode, 0);
  const std::string file = ReadFile(site.install / "updates-status.json");
  RunResult json = site.RunWith({"--status", "--json"});
  EXPECT_EQ(json.exitCode, 0);
  EXPECT_EQ(json.out, file);
  RunResult person = site.RunWith({"--status"});
  EXPECT_EQ(person.exitCode, 0);
  EXPECT_NE(person.out.find("Outcome:              nothing_new (exit status 0)\n"),
            std::string::npos)
      << person.out;

  // A message with an escape sequence, as a server's reply could bring.
  std::string planted = file;
  planted.replace(planted.find("\"message\": \"\""), 13, R"("message": "\u001b[2Jgone\r\nforged")");
  site.install.Write("updates-status.json", planted);
  person = site.RunWith({"--status"});
  EXPECT_NE(person.out.find("Message:              \\x1b[2Jgone\\r\\nforged\n"), std::string::npos)
      << person.out;
  EXPECT_EQ(person.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(site.RunWith({"--status", "--json"}).out, planted);
  // Raw, a C1 control (CSI) is valid JSON, but is shown as an escape.
  const std::size_t message = file.find("\"message\": \"\"");
  site.install.Write("updates-status.json", file.substr(0, message) +
                                                "\"message\": \"\xc2\x9b"
                                                "2J\"" +
                                                file.substr(message + 13));
  EXPECT_NE(site.RunWith({"--status", "--json"}).out.find("\"message\": \"\\u009b2J\""),
            std::string::npos);
  EXPECT_EQ(site.RunWith({"--json"}).exitCode, 64);
}

// The journal's own socket, in a mount namespace of the test's, stands in for
// journald: what the run sends there is what journald would store.
constexpr const char* kJournalStandIn = R"(
import json, os, socket, subprocess, sys
os.makedirs('/run/systemd/journal')
journal = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
journal.bind('/run/systemd/journal/socket')
env = dict(os.environ)
err = os.fstat(2)
if sys.argv[2] != 'none':
    env['JOURNAL_STREAM'] = '%d:%d' % (err.st_dev, err.st_ino + (sys.argv[2] == 'elsewhere'))
status = subprocess.call([sys.argv[1], '--console'], env=env, stdout=subprocess.DEVNULL)
journal.setblocking(False)
entries = []
while True:
    try:
        data = journal.recv(1 << 20)
    except BlockingIOError:
        break
    fields, at = [], 0
    while at < len(data):
        end = data.index(b'\n', at)
        if b'=' in data[at:end]:
            fields.append(data[at:end].decode())
            at = end + 1
        else:  # NAME, then the value's length and the value
            size = int.from_bytes(data[end + 1:end + 9], 'little')
            value = data[end + 9:end + 9 + size]
            fields.append(data[at:end].decode() + '=' + value.decode())
            at = end + 9 + size + 1
    entries.append(fields)
print(json.dumps(entries))
sys.exit(status)
)";

TEST(UpdateRunStatus, TheJournalGetsTheSummaryOnlyWhenStandardErrorIsTheJournal) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount over /run in a mount namespace";
  struct Case {
    const char* journalStream;  // JOURNAL_STREAM: stderr's, another stream's, none
    bool sent;
  };
  for (const Case& c :
       std::vector<Case>{{"journal", true}, {"elsewhere", false}, {"none", false}}) {
    SCOPED_TRACE(c.journalStream);
    UpdateSite site;
    // A metrics file that cannot be written is said in the entry too.
    site.WriteConfig("MetricsFile=missing/krevo.prom\r\n");
    site.AddPackage("090101", {{"a.txt", "a", LocalTime(2009, 1, 1)}});
    std::ofstream(site.serverRoot / "krevo/updates/up090102.zip") << "no archive at all";
    RunOptions options;
    options.extraEnv = {"DISPLAY=", "WAYLAND_DISPLAY=", "LC_ALL=C", "TMPDIR=" + site.tmp.Folder()};
    RunResult r =
        RunProcess({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                    "mount -t tmpfs tmpfs /run || exit 77; exec /usr/bin/python3 -c \"$0\" \"$@\"",
                    kJournalStandIn, site.install / "krevo-updater", c.journalStream},
                   site.install.Folder(), options);
    // unshare says why it could not make the namespace (no such namespaces,
    // or a root that is no mount point, as in a chroot) on a line of its own.
    if (r.exitCode == 77 || r.err.rfind("unshare: ", 0) == 0 ||
        r.err.find("\nunshare: ") != std::string::npos)
      GTEST_SKIP() << "no private mount namespace here: " << r.err;
    ASSERT_EQ(r.exitCode, 4) << r.err;
    const json entries = json::parse(r.out, nullptr, false);
    ASSERT_TRUE(entries.is_array()) << r.out;
    if (!c.sent) {
      EXPECT_EQ(entries, json::array());
      continue;
    }
    ASSERT_EQ(entries.size(), 1u) << r.out;
    const std::string metricsError = "The file " + site.install / "missing/krevo.prom" +
                                     " could not be written (open folder): No such file or "
                                     "directory.";
    const json expected = {"MESSAGE=Update run ended: failed (exit status 4): " +
                               StatusOf(site)["message"].get<std::string>() + " " + metricsError,
                           "PRIORITY=4",
                           "SYSLOG_IDENTIFIER=krevo-updater",
                           "KREVO_OUTCOME=failed",
                           "KREVO_EXIT_STATUS=4",
                           "KREVO_PACKAGE=up090101.zip ... complete",
                           "KREVO_PACKAGE=up090102.zip ... failed",
                           "KREVO_FILE_ERROR=" + metricsError};
    EXPECT_EQ(entries[0], expected);
  }
}

}  // namespace
}  // namespace krevo::test
