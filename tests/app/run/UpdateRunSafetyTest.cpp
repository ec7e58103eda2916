// The update run against what a hostile server, a damaged download or another
// local user can do: the built krevo-updater in console mode against a real
// FTP server, packages made by Info-ZIP zip or Python's zipfile.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

#include "tests/app/support/SmallFileSystem.h"
#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

// Runs a shell command as another user, as a local attacker would.
void RunAsNobody(const std::string& command) {
  RunResult r = RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                            "/bin/sh", "-c", command},
                           "/");
  if (r.exitCode != 0) throw std::runtime_error(command + ": " + r.err);
}

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

class UpdateRunSafety : public ::testing::Test {
 protected:
  // A log dated 2005, so that a run that moves the date is seen.
  void OldLog() {
    site.install.Write("updates.log", "earlier\r\n");
    SetModified(site.install / "updates.log", LocalTime(2005, 5, 5));
  }
  bool LogDateKept() const {
    return Modified(site.install / "updates.log") == LocalTime(2005, 5, 5);
  }
  bool Installed(const std::string& name) const { return fs::exists(site.install / name); }

  UpdateSite site;
};

TEST_F(UpdateRunSafety, WhatAnotherUserPlantsNeitherRedirectsNorBlocksTheDownload) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to play another user with setpriv";
  struct Case {
    const char* command;  // plants at $AT, maybe linking to $VICTIM
    bool inTheirFolder;   // in a krevo-updater-<uid> folder they made first, else at the old path
  };
  const std::vector<Case> cases = {
      {"ln -s \"$VICTIM\" \"$AT\"", false},
      {"ln \"$VICTIM\" \"$AT\"", false},
      {"mkfifo \"$AT\"", false},
      {"mkdir \"$AT\"", false},
      {"ln -s \"$VICTIM\" \"$AT\"", true},
      {"ln \"$VICTIM\" \"$AT\"", true},
      {"mkfifo \"$AT\"", true},
      {"mkdir \"$AT\"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) +
                 (c.inTheirFolder ? " in their folder" : " at the old path"));
    UpdateSite run;
    run.AddPackage("080307", {{"bin/krevo.dll", "dll 2", LocalTime(2008, 3, 7)}});
    // A file of root's that the attacker may link to (0666 lets the kernel
    // allow the hard link), in a folder they can reach.
    TempDir victimFolder;
    ::chmod(victimFolder.Folder().c_str(), 0755);
    const std::string victim = victimFolder.Write("victim", "victim");
    ::chmod(victim.c_str(), 0666);
    ::chmod(run.tmp.Folder().c_str(), 01777);
    const std::string theirs = run.Staging();
    if (c.inTheirFolder) RunAsNobody("mkdir -m 0700 " + Quoted(theirs));
    const std::string at = c.inTheirFolder ? theirs + "/up080307.zip" : run.tmp / "up080307.zip";
    RunAsNobody("VICTIM=" + Quoted(victim) + " AT=" + Quoted(at) + "; " + c.command);
    struct stat planted;
    ASSERT_EQ(::lstat(at.c_str(), &planted), 0);

    RunResult r = run.Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(run.install / "bin/krevo.dll"), "dll 2");
    EXPECT_EQ(ReadFile(victim), "victim");
    struct stat after;
    ASSERT_EQ(::lstat(at.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, planted.st_ino);
    EXPECT_EQ(after.st_mode, planted.st_mode);
    if (c.inTheirFolder) {
      // The copy went to a fresh folder beside the one they took, and that
      // folder went with the run; theirs is left as it was.
      for (const auto& e : fs::directory_iterator(run.tmp.Folder()))
        EXPECT_NE(e.path().filename().string().rfind("krevo-updater-0.", 0), 0u) << e.path();
      struct stat their;
      ASSERT_EQ(::lstat(theirs.c_str(), &their), 0);
      EXPECT_EQ(their.st_uid, kNobody);
      continue;
    }
    // The copy went to the usual folder of root's, mode 0700, and stays.
    struct stat folder;
    ASSERT_EQ(::lstat(theirs.c_str(), &folder), 0);
    EXPECT_TRUE(S_ISDIR(folder.st_mode));
    EXPECT_EQ(folder.st_uid, 0u);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    struct stat copy;
    ASSERT_EQ(::lstat((theirs + "/up080307.zip").c_str(), &copy), 0);
    EXPECT_TRUE(S_ISREG(copy.st_mode));
    EXPECT_EQ(copy.st_mode & 07777, 0600u);
  }
}

// A package that fails before anything of it is installed: the run goes on
// with the next package and ends with status 4, the date kept.
TEST_F(UpdateRunSafety, APackageCutShortDamagedOrNoArchiveInstallsNothingAndFailsTheRun) {
  struct Case {
    const char* what;
    // Makes up080307.zip on the server; returns the error line expected.
    std::function<std::string(UpdateSite&)> make;
  };
  const std::vector<Case> cases = {
      {"cut short",
       [](UpdateSite& s) {
         std::string noise;
         for (unsigned x = 7; noise.size() < 6000;)
           noise += static_cast<char>((x = x * 1103515245 + 12345) >> 24);
         const auto size =
             fs::file_size(s.AddPackage("080307", {{"a.txt", noise, LocalTime(2008, 3, 7)}}));
         s.RestartServer({"--cut-short"});
         return "Failed to download up080307.zip: " + std::to_string(size / 2) + " of " +
                std::to_string(size) + " bytes were received.";
       }},
      {"directory rebuilt",
       [](UpdateSite& s) {
         const std::string package = s.AddPackage(
             "080307",
             {{"a.txt", "a", LocalTime(2008, 3, 7)}, {"b.txt", "b", LocalTime(2008, 3, 7)}});
         // The first central header claims a name longer than the directory:
         // the size stays, and the reader rebuilds the items from the local headers.
         std::string bytes = ReadFile(package);
         const auto at = bytes.find(std::string("PK\x01\x02", 4));
         bytes.replace(at + 28, 2, "\x60\xea");
         std::ofstream(package, std::ios::binary) << bytes;
         return std::string(
             "Failed to install up080307.zip: the central directory is damaged; nothing was "
             "installed from it.");
       }},
      {"no archive",
       [](UpdateSite& s) {
         std::ofstream(s.serverRoot / "krevo/updates/up080307.zip") << std::string(4096, 'x');
         return std::string("Failed to install up080307.zip: ");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite run;
    run.AddPackage("080308", {{"next.txt", "next", LocalTime(2008, 3, 8)}});
    const std::string error = "Error: " + c.make(run);
    // A transfer cut short is not retried here: the first end is the failure.
    run.WriteConfig("Retries=0\r\n");
    run.install.Write("updates.log", "earlier\r\n");
    SetModified(run.install / "updates.log", LocalTime(2005, 5, 5));
    RunResult r = run.Run();
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_NE(r.err.find(error), std::string::npos) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up080307\.zip ... failed\n)"))) << r.out;
    EXPECT_FALSE(fs::exists(run.install / "a.txt"));
    EXPECT_FALSE(fs::exists(run.install / "b.txt"));
    EXPECT_EQ(Modified(run.install / "updates.log"), LocalTime(2005, 5, 5));
    // The next package is taken, unless the server cuts every transfer short.
    if (c.what != std::string("cut short")) {
      EXPECT_EQ(ReadFile(run.install / "next.txt"), "next");
    }
  }
}

TEST_F(UpdateRunSafety, ARefusedEntryOrACancelledPasswordFailsItsPackageAndTheRun) {
  site.AddRawPackage("080307", {{"good.txt", "good"}, {"../escape.txt", "escaped"}});
  site.AddPackage("080308", {{"secret.txt", "secret", LocalTime(2008, 3, 8)}}, "", "another");
  site.AddPackage("080309", {{"later.txt", "later", LocalTime(2008, 3, 9)}});
  OldLog();
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 4) << r.err;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up080307\.zip ... failed\n)"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up080308\.zip ... failed\n)"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up080309\.zip ... complete\n)"))) << r.out;
  EXPECT_NE(r.err.find("Password for \"secret.txt\": Enter password:\n"), std::string::npos)
      << r.err;
  // A package with a refused entry installs nothing of itself.
  EXPECT_FALSE(Installed("good.txt"));
  EXPECT_EQ(ReadFile(site.install / "later.txt"), "later");
  EXPECT_FALSE(Installed("secret.txt"));
  EXPECT_FALSE(fs::exists(site.install / "../escape.txt"));
  // Only the file really installed is counted; the date stays.
  EXPECT_TRUE(site.Log().ends_with("1 file updated.\r\n" + std::string(70, '=') + "\r\n"))
      << site.Log();
  EXPECT_TRUE(LogDateKept());
  struct stat temp;
  ASSERT_EQ(::stat((site.install / "temp").c_str(), &temp), 0);
  EXPECT_EQ(temp.st_mode & 0777, 0700u);
}

TEST_F(UpdateRunSafety, ControlCharactersInEntryNamesNeverReachTheLogOrTheTerminalRaw) {
  site.AddRawPackage("080307", {{"a.txt", "a"}, {"b\r\nforged.txt > x\x1b[2J.txt", "b"}});
  RunResult r = site.Run();
  const std::string log = site.Log();
  EXPECT_EQ(log.find("\nforged"), std::string::npos) << log;
  EXPECT_EQ(log.find('\x1b'), std::string::npos) << log;
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
  // The refused entry fails its package, which installs nothing.
  EXPECT_FALSE(fs::exists(site.install / "a.txt"));
}

TEST_F(UpdateRunSafety, TooLittleFreeSpaceFailsThePackageAndTheNextOneIsInstalled) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
  TempDir mountPoint;
  SmallFileSystem small(mountPoint.Folder());
  if (!small.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string root = mountPoint.Folder();
  site.WriteConfig("[Documents]\r\nRootFolder=" + root + "\r\n[Reports]\r\nRootFolder=" + root +
                   "\r\n");
  site.AddPackage("080307",
                  {{"big.bin", std::string(std::size_t{1} << 20, '\0'), LocalTime(2008, 3, 7)}});
  site.AddPackage("080308", {{"small.txt", "small", LocalTime(2008, 3, 8)}});
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 4) << r.err;
  EXPECT_TRUE(
      std::regex_search(r.err, std::regex("Error: Not enough free space to install up080307\\.zip: "
                                          "1048576 bytes are needed in " +
                                          root + ", \\d+ bytes are free\\.\n")))
      << r.err;
  EXPECT_FALSE(fs::exists(root + "big.bin"));
  EXPECT_EQ(ReadFile(root + "small.txt"), "small");
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up080307\.zip ... failed\n)"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up080308\.zip ... complete\n)"))) << r.out;
}

// A listed package that cannot be had, as a file or from the server, fails
// alone; a copy that arrived and then failed is not kept.
TEST_F(UpdateRunSafety, APackageThatCannotBeHadFailsAloneAndAFailedCopyIsNotKept) {
  const std::string tooLong = "up080305" + std::string(300, 'x') + ".zip";
  // Only a Unix-style line holds a name longer than its fixed columns.
  site.RestartServer({"--listing", "unix", "--phantom", tooLong, "--phantom", "up080306.zip",
                      "--overlong", "up080304.zip"});
  const auto listed =
      fs::file_size(site.AddPackage("080304", {{"big.txt", "big", LocalTime(2008, 3, 4)}}));
  std::ofstream(site.serverRoot / "krevo/updates/up080307.zip") << std::string(4096, 'x');
  site.AddPackage("080308", {{"next.txt", "next", LocalTime(2008, 3, 8)}});
  OldLog();
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 4) << r.err;
  for (const std::string& line :
       {std::string("up080304.zip ... failed\n"), tooLong + " ... failed\n",
        std::string("up080306.zip ... failed\n"), std::string("up080307.zip ... failed\n"),
        std::string("up080308.zip ... complete\n")})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  EXPECT_NE(r.err.find("Error: Failed to download " + tooLong + ": Cannot create file"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Error: Failed to download up080304.zip: The server sent more than the " +
                       std::to_string(listed) + " bytes expected.\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Error: Failed to download up080306.zip: No such file or directory.\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Warning: One new update was downloaded. Please restart krevo from your "
                       "usual icon. No files were updated. 4 updates failed to install.\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(site.install / "next.txt"), "next");
  EXPECT_FALSE(fs::exists(site.Staging() + "/up080304.zip"));
  EXPECT_FALSE(fs::exists(site.Staging() + "/up080307.zip"));
  EXPECT_FALSE(fs::exists(site.install / "big.txt"));
  EXPECT_TRUE(fs::exists(site.Staging() + "/up080308.zip"));
  EXPECT_TRUE(LogDateKept());
}

// Run as root, the updater trusts nothing that another user may change: it
// names the first such path and does not start; a sticky folder above is fine.
TEST_F(UpdateRunSafety, AsRootNothingThatAnotherUserMayChangeIsTrusted) {
  if (::geteuid() != 0) GTEST_SKIP() << "the checks are made only when run as root";
  struct Case {
    const char* what;
    // Makes the path unsafe; returns the path, and what the message says of it.
    std::function<std::pair<std::string, std::string>(UpdateSite&, TempDir& other)> make;
    // For a run that is not refused: what it must have done.
    std::function<void(TempDir& other, const RunResult&)> check = nullptr;
  };
  const auto rootAt = [](UpdateSite& s, const std::string& root) {
    fs::create_directories(root);
    s.WriteConfig("[Documents]\r\nRootFolder=" + root + "/\r\n[Reports]\r\nRootFolder=" + root +
                  "/\r\n");
  };
  const std::vector<Case> cases = {
      {"the updater's folder open to all",
       [](UpdateSite& s, TempDir&) {
         ::chmod(s.install.Folder().c_str(), 0777);
         return std::pair(s.install / "", std::string("(owner uid 0, mode 0777) can be written"));
       }},
      {"config.ini of another user",
       [](UpdateSite& s, TempDir&) {
         EXPECT_EQ(::chown((s.install / "config.ini").c_str(), kNobody, kNobody), 0);
         return std::pair(s.install / "config.ini",
                          std::string("(owner uid 65534, mode 0644) is not"));
       }},
      {"the root folder open to its group",
       [rootAt](UpdateSite& s, TempDir&) {
         rootAt(s, s.install / "suite");
         ::chmod((s.install / "suite").c_str(), 0775);
         return std::pair(s.install / "suite",
                          std::string("(owner uid 0, mode 0775) can be written"));
       }},
      {"a folder above the root folder open to all",
       [rootAt](UpdateSite& s, TempDir& other) {
         rootAt(s, other / "open/suite");
         ::chmod((other / "open").c_str(), 0777);
         return std::pair(other / "open", std::string("(owner uid 0, mode 0777) can be written"));
       }},
      {"the key file open to all",
       [](UpdateSite& s, TempDir&) {
         s.WriteConfig("PublicKeyFile=krevo.pub\r\n");
         ::chmod(s.install.Write("krevo.pub", "key").c_str(), 0666);
         return std::pair(s.install / "krevo.pub", std::string("(owner uid 0, mode 0666) can be"));
       }},
      {"the CA file through a link in a folder open to all",
       [](UpdateSite& s, TempDir& other) {
         fs::create_directory(other / "open");
         ::chmod((other / "open").c_str(), 0777);
         fs::create_symlink(s.install.Write("ca.pem", "ca"), other / "open/ca.pem");
         s.WriteConfig("CAFile=" + other / "open/ca.pem" + "\r\n");
         return std::pair(other / "open", std::string("(owner uid 0, mode 0777) can be written"));
       }},
      {"a sticky folder above the root folder",
       [rootAt](UpdateSite& s, TempDir& other) {
         rootAt(s, other / "sticky/suite");
         ::chmod((other / "sticky").c_str(), 01777);
         return std::pair(std::string(), std::string());
       },
       [](TempDir& other, const RunResult&) {
         EXPECT_EQ(ReadFile(other / "sticky/suite/a.txt"), "a");
       }},
      // The user who owns the folder above the metrics folder puts a link to
      // a folder of root's in its place.
      {"the metrics folder in a folder of another user",
       [](UpdateSite& s, TempDir& other) {
         fs::create_directories(other / "user");
         fs::create_directories(other / "rootonly");
         EXPECT_EQ(::chown((other / "user").c_str(), kNobody, kNobody), 0);
         RunAsNobody("ln -s " + Quoted(other / "rootonly") + " " + Quoted(other / "user/metrics"));
         s.WriteConfig("MetricsFile=" + other / "user/metrics/krevo.prom\r\n");
         return std::pair(other / "user", std::string("(owner uid 65534, mode 0755) is not"));
       }},
      // Its owner may make and remove files in it, but cannot turn root's
      // write out of it.
      {"the metrics folder of another user, in a folder of root's",
       [](UpdateSite& s, TempDir& other) {
         fs::create_directories(other / "collector");
         EXPECT_EQ(::chown((other / "collector").c_str(), kNobody, kNobody), 0);
         s.WriteConfig("MetricsFile=" + other / "collector/krevo.prom\r\n");
         return std::pair(std::string(), std::string());
       },
       [](TempDir& other, const RunResult&) {
         EXPECT_TRUE(fs::is_regular_file(other / "collector/krevo.prom"));
       }},
      {"the metrics folder a link, in a folder of root's",
       [](UpdateSite& s, TempDir& other) {
         fs::create_directories(other / "target");
         fs::create_symlink(other / "target", other / "link");
         s.WriteConfig("MetricsFile=" + other / "link/krevo.prom\r\n");
         return std::pair(std::string(), std::string());
       },
       [](TempDir& other, const RunResult& r) {
         EXPECT_TRUE(fs::is_empty(other / "target"));
         EXPECT_NE(r.err.find(other / "link/krevo.prom could not be written (open folder)"),
                   std::string::npos)
             << r.err;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite run;
    TempDir other;
    ::chmod(other.Folder().c_str(), 0755);
    run.AddPackage("080307", {{"a.txt", "a", LocalTime(2008, 3, 7)}});
    const auto [path, said] = c.make(run, other);
    RunResult r = run.Run();
    if (path.empty()) {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      c.check(other, r);
      continue;
    }
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const std::string trimmed = path.back() == '/' ? path.substr(0, path.size() - 1) : path;
    EXPECT_NE(r.err.find("Refusing to run as root: " + trimmed + " " + said), std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(run.install / "updates.log"));
    EXPECT_FALSE(fs::exists(run.install / "a.txt"));
  }
}

}  // namespace
}  // namespace krevo::test
