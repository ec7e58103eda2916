// A package installed as one change: a crash at every step of an install and
// of a rollback, then the next start's recovery, leaves the old or the new
// installation, whole; a rollback gives back the old files as they were.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>

#include "app/install/PackageTransaction.h"
#include "tests/app/support/PowerCutFileSystem.h"
#include "tests/support/TempDir.h"

namespace krevo::app {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;

struct Entry {
  std::string content;
  unsigned mode;
  long long modified;  // nanoseconds
  bool operator==(const Entry&) const = default;
};
// Every file and folder below a root, hidden ones of ours aside; folders have
// an empty content and mode 0, and their time only `withFolderTimes`.
using Tree = std::map<std::string, Entry>;

Tree Snapshot(const std::string& root, bool withFolderTimes = false) {
  Tree tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    if (e.path().filename().string().rfind(".krevo-", 0) == 0) continue;
    struct stat st;
    ::lstat(e.path().c_str(), &st);
    const long long modified = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    if (S_ISLNK(st.st_mode))
      tree[rel] = Entry{"a link", 0, 0};
    else if (S_ISDIR(st.st_mode))
      tree[rel] = Entry{"", 0, withFolderTimes ? modified : 0};
    else
      tree[rel] = Entry{ReadFile(e.path()), st.st_mode & 07777, modified};
  }
  return tree;
}

// The hidden files left: staged ones never should be; backups may.
std::vector<std::string> Hidden(const std::string& root) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.path().filename().string().rfind(".krevo-", 0) == 0) names.push_back(e.path().string());
  return names;
}

// What differs between two trees, for a failure's message.
std::string Difference(const Tree& a, const Tree& b) {
  std::string text;
  for (const auto& [name, e] : a)
    if (!b.count(name) || !(b.at(name) == e)) text += " " + name;
  for (const auto& [name, e] : b)
    if (!a.count(name)) text += " -" + name;
  return text;
}

// `root` is a folder's path ending in '/'.
void Put(const std::string& root, const std::string& name, const std::string& content,
         unsigned mode = 0644) {
  const std::string path = root + name;
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
  ::chmod(path.c_str(), mode);
  struct utimbuf t = {978350400, 978350400};  // 2001-01-01
  ::utime(path.c_str(), &t);
}

// An installation of some twenty files: replaced, kept and added ones, some
// in folders the package makes; one replaced is a set-user-id program.
void MakeOld(const std::string& root) {
  Put(root, "bin/a.dll", "old a", 0640);
  Put(root, "bin/tool", "old tool", 04755);
  Put(root, "keep.txt", "kept");
  for (int i = 0; i < 5; ++i) Put(root, "old/f" + std::to_string(i), "old " + std::to_string(i));
}

const std::vector<std::pair<std::string, std::string>> kPackage = [] {
  std::vector<std::pair<std::string, std::string>> files = {{"bin/a.dll", "new a"},
                                                            {"bin/b.dll", "new b"},
                                                            {"bin/tool", "new tool"},
                                                            {"new/deep/c.txt", "new c"}};
  for (int i = 0; i < 5; ++i)
    files.push_back({"old/f" + std::to_string(i), "new " + std::to_string(i)});
  for (int i = 0; i < 10; ++i)
    files.push_back({"many/f" + std::to_string(i), std::string(i * 100, 'm')});
  files.push_back({"bin/a.dll", "newer a"});  // a package may name a file twice
  return files;
}();

base::UniqueFd OpenRoot(const std::string& root) {
  return base::UniqueFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void Install(const std::string& root, const std::string& package = "up260101.zip",
             const std::vector<std::pair<std::string, std::string>>& files = kPackage) {
  const base::UniqueFd rootFd = OpenRoot(root);
  TPackageTransaction transaction(rootFd.get(), package);
  for (const auto& [name, content] : files) {
    base::UniqueFd fd = transaction.Stage(name, 0644);
    ASSERT_EQ(::write(fd.get(), content.data(), content.size()),
              static_cast<ssize_t>(content.size()));
    const struct timespec times[2] = {{0, UTIME_NOW}, {1767268800, 0}};  // 2026-01-01
    ::futimens(fd.get(), times);
  }
  transaction.Commit();
}

// Runs `action` in a child that dies at its `step`-th file-system step (as
// SIGKILL would kill it); true when it died there, false when it ended first.
bool DiesAtStep(int step, const std::function<void()>& action) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    static int left;
    left = step;
    TransactionStepHook = [] {
      if (--left == 0) ::_exit(77);
    };
    action();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  return WEXITSTATUS(status) == 77;
}

// The backups of a package, found below `root`.
std::vector<std::string> Backups(const std::string& root) {
  std::vector<std::string> names;
  for (const std::string& name : Hidden(root))
    if (std::regex_search(name, std::regex(R"(-b\d+$)"))) names.push_back(name);
  return names;
}

// Crashes an install of `files`, and its rollback, at every step, each
// crash followed by `cut` (a power cut, say), in a new installation in the
// folder that `newRoot` makes each time, made durable by `sync` before the
// action; the recovery must then leave the old or the new installation,
// whole, and the updater go on as if nothing had happened.
using TSync = std::function<void(const std::string& root)>;
void CrashAtEveryStep(const std::vector<std::pair<std::string, std::string>>& files,
                      const std::function<std::string()>& newRoot, const TSync& sync,
                      const std::function<void()>& cut) {
  const std::string reference = newRoot();
  MakeOld(reference);
  const Tree before = Snapshot(reference);
  Install(reference, "up260101.zip", files);
  const Tree after = Snapshot(reference);
  ASSERT_NE(before, after);
  struct Case {
    const char* what;
    std::function<void(const std::string&)> prepare, action;
  };
  const std::vector<Case> cases = {
      {"install", [](const std::string&) {},
       [&files](const std::string& root) { Install(root, "up260101.zip", files); }},
      {"rollback", [&files](const std::string& root) { Install(root, "up260101.zip", files); },
       [](const std::string& root) { RollBackLastPackage(OpenRoot(root).get()); }},
  };
  for (const Case& c : cases) {
    int olds = 0, news = 0;
    for (int step = 1;; ++step) {
      SCOPED_TRACE(std::string(c.what) + ", crash at step " + std::to_string(step));
      const std::string root = newRoot();
      MakeOld(root);
      const Tree old = Snapshot(root, true);  // folder times given back too
      c.prepare(root);
      sync(root);
      const bool died = DiesAtStep(step, [&] { c.action(root); });
      cut();
      std::optional<std::string> line;
      try {
        line = RecoverInterruptedUpdate(OpenRoot(root).get());
      } catch (const ETransactionError& e) {
        ADD_FAILURE() << "the recovery failed: " << e.what();
        if (!died) break;
        continue;
      }
      const Tree now = Snapshot(root);
      const bool isOld = Snapshot(root, true) == old, isNew = now == after;
      EXPECT_TRUE(isOld || isNew) << "differs from the old:"
                                  << Difference(Snapshot(root, true), old)
                                  << "; from the new:" << Difference(now, after);
      olds += isOld;
      news += isNew;
      for (const std::string& name : Hidden(root))
        EXPECT_TRUE(std::regex_search(name, std::regex(R"(-b\d+$|journal(\.previous)?$)")))
            << "a staged file is left: " << name;
      // No backup another user may reach runs with its owner's rights.
      for (const std::string& name : Backups(root)) {
        struct stat st;
        EXPECT_TRUE(::lstat(name.c_str(), &st) == 0 && (st.st_mode & (S_ISUID | S_ISGID)) == 0)
            << name;
      }
      if (line) {
        EXPECT_TRUE(std::regex_match(
            *line, std::regex("Interrupted update of up260101.zip (rolled back|completed)|"
                              "Rolled back up260101.zip")))
            << *line;
      }
      // The next run installs the package as if nothing had happened, and a
      // package completed by the recovery rolls back like any other.
      try {
        if (isOld) {
          Install(root, "up260101.zip", files);
          EXPECT_EQ(Snapshot(root), after);
        }
        RollBackLastPackage(OpenRoot(root).get());
        EXPECT_EQ(Snapshot(root, true), old);
      } catch (const ETransactionError& e) {
        ADD_FAILURE() << "the updater is locked: " << e.what();
      }
      if (!died) break;
      ASSERT_LT(step, 500);
    }
    // Crashes early leave the old installation, crashes late the new one.
    EXPECT_GT(olds, 0) << c.what;
    EXPECT_GT(news, 0) << c.what;
  }
}

TEST(PackageTransaction, ACrashAtAnyStepOfAnInstallOrARollbackLeavesTheOldOrTheNewWhole) {
  std::vector<std::unique_ptr<TempDir>> roots;
  CrashAtEveryStep(
      kPackage,
      [&roots] {
        roots.push_back(std::make_unique<TempDir>());
        return roots.back()->Folder();
      },
      [](const std::string&) {}, [] {});
}

// On a file system that loses what was not flushed (a file's data, a
// folder's entries) or keeps a part of it, as a disk may when the power goes.
TEST(PackageTransaction, APowerCutAtAnyStepOfAnInstallOrARollbackLeavesTheOldOrTheNewWhole) {
  test::PowerCutFileSystem fuse;
  if (!fuse.Mounted())
    GTEST_SKIP() << "needs root, /dev/fuse and python3-pyfuse3 for a file system that loses "
                    "what was not flushed";
  // Small, with replaced, set-id and added files, and new folders in new ones.
  const std::vector<std::pair<std::string, std::string>> files = {{"bin/a.dll", "new a"},
                                                                  {"bin/tool", "new tool"},
                                                                  {"new/deep/c.txt", "new c"},
                                                                  {"new2/sub/only/d", "new d"},
                                                                  {"old/f0", "new 0"}};
  using TLoss = test::PowerCutFileSystem::TLoss;
  for (const TLoss loss : {TLoss::Lost, TLoss::Torn, TLoss::Data}) {
    SCOPED_TRACE("loss model " + std::to_string(static_cast<int>(loss)));
    int made = 0;
    CrashAtEveryStep(
        files,
        [&] {
          const std::string root = fuse.Root() + std::to_string(static_cast<int>(loss)) + "-" +
                                   std::to_string(++made) + "/";
          fs::create_directory(root);
          return root;
        },
        test::PowerCutFileSystem::Flush, [&] { fuse.PowerCut(loss); });
  }
}

// A replaced set-id program is kept as a backup that another user can reach
// by its path: it must not run with its owner's rights, and a rollback gives
// its mode back.
TEST(PackageTransaction, ABackupOfASetIdProgramRunsWithTheCallersRights) {
  const bool asAnother = ::geteuid() == 0 && fs::exists("/usr/bin/setpriv");
  for (const unsigned mode : {04755u, 02755u, 06711u, 0755u}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    TempDir root;
    fs::permissions(root.Folder(), fs::perms(0755));
    fs::create_directories(root / "bin");
    fs::copy_file("/usr/bin/id", root / "bin/id");
    ::chmod((root / "bin/id").c_str(), mode);
    const Tree before = Snapshot(root.Folder(), true);
    Install(root.Folder(), "up260101.zip", {{"bin/id", "new id"}});
    const std::vector<std::string> backups = Backups(root.Folder());
    ASSERT_EQ(backups.size(), 1u);
    struct stat st;
    ASSERT_EQ(::stat(backups[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode & ~06000u);
    if (asAnother) {
      const test::RunResult run =
          test::RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                            backups[0], "-u"},
                           "/");
      EXPECT_EQ(run.out, "65534\n") << run.err;
    }
    EXPECT_EQ(RollBackLastPackage(OpenRoot(root.Folder()).get()), "Rolled back up260101.zip");
    EXPECT_EQ(Snapshot(root.Folder(), true), before);
  }
}

// The journal of an installed package (ending in "done"), told as lines.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1)
    lines.push_back(text.substr(start, end - start + 1));
  return lines;
}

// A journal that a power cut tore (the last record cut short), or that an
// earlier version wrote (no modes; a record appended after a torn one) is
// finished like a whole one, and the updater goes on: a rollback finds the
// package, the next package installs.
TEST(PackageTransaction, ATornJournalOrOneOfAnEarlierVersionIsFinishedAndLocksNothing) {
  // What each journal ends in, after the plan's records; "modes" false: the
  // file records lose their mode, as an earlier version wrote them.
  struct Case {
    const char* what;
    std::string tail;
    bool modes;
    const char* line;  // the recovery's, "" for none
    bool installed;    // the package is in place after the recovery
  };
  const std::vector<Case> cases = {
      {"done torn", "do", true, "Interrupted update of up260101.zip completed", true},
      {"done after a torn done", "dodone\n", true, "Interrupted update of up260101.zip completed",
       true},
      {"rollback torn", "done\nroll", true, "", true},
      {"rolled-back torn", "done\nrollback\nrolled-b", true, "Rolled back up260101.zip", false},
      {"rolled-back after a torn one", "done\nrollback\nrolled-brolled-back\n", true,
       "Rolled back up260101.zip", false},
      {"an earlier version's, committed", "", false, "Interrupted update of up260101.zip completed",
       true},
      {"an earlier version's, done", "done\n", false, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir root;
    MakeOld(root.Folder());
    ::chmod((root / "bin/tool").c_str(), 0755);  // an earlier version kept every bit
    const Tree old = Snapshot(root.Folder(), true);
    Install(root.Folder());
    const Tree after = Snapshot(root.Folder());
    std::string journal;
    for (const std::string& line : Lines(ReadFile(root / ".krevo-update.journal"))) {
      if (line == "done\n") continue;
      if (!c.modes && line.starts_with("file\t"))
        journal += line.substr(0, line.rfind('\t')) + "\n";
      else
        journal += line;
    }
    std::ofstream(root / ".krevo-update.journal", std::ios::binary | std::ios::trunc)
        << journal + c.tail;
    const base::UniqueFd rootFd = OpenRoot(root.Folder());
    try {
      EXPECT_EQ(RecoverInterruptedUpdate(rootFd.get()).value_or(""), c.line);
      if (c.installed) {
        EXPECT_EQ(Snapshot(root.Folder()), after);
        RollBackLastPackage(rootFd.get());
      }
      EXPECT_EQ(Snapshot(root.Folder(), true), old);
      Install(root.Folder());
      EXPECT_EQ(Snapshot(root.Folder()), after);
      RollBackLastPackage(rootFd.get());
      EXPECT_EQ(Snapshot(root.Folder(), true), old);
    } catch (const ETransactionError& e) {
      ADD_FAILURE() << e.what();
    }
  }
}

// A journal that cannot be read, or that another program wrote, is left as
// it is, and the message says what to do.
TEST(PackageTransaction, AJournalThatCannotBeReadSaysWhatToDo) {
  struct Case {
    const char* what;
    std::function<void(const TempDir&)> make;
    const char* message;  // "" when the journal is no obstacle
  };
  const std::vector<Case> cases = {
      {"a folder",
       [](const TempDir& root) { fs::create_directory(root / ".krevo-update.journal"); },
       "move it out of the root folder"},
      {"another program's",
       [](const TempDir& root) { root.Write(".krevo-update.journal", "[settings]\nkey=1\n"); },
       "was not written by this version of the updater"},
      {"another version's",
       [](const TempDir& root) {
         root.Write(".krevo-update.journal", "krevo-journal\t2\tabc\tup260101.zip\n");
       },
       "finish the update with the version that began it"},
      // A header the power cut tore: nothing was begun.
      {"a torn header",
       [](const TempDir& root) { root.Write(".krevo-update.journal", "krevo-journal\t1\tab"); },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir root;
    c.make(root);
    const base::UniqueFd rootFd = OpenRoot(root.Folder());
    for (int attempt = 0; attempt < 2; ++attempt) {
      try {
        if (attempt == 0)
          RecoverInterruptedUpdate(rootFd.get());
        else
          TPackageTransaction(rootFd.get(), "up260101.zip").Abort();
        EXPECT_STREQ(c.message, "") << attempt;
      } catch (const ETransactionError& e) {
        EXPECT_NE(std::string(c.message), "") << e.what();
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("No update can be installed or rolled back"),
                  std::string::npos)
            << e.what();
      }
    }
    if (*c.message) {
      EXPECT_TRUE(fs::exists(root / ".krevo-update.journal"));
    }
  }
}

TEST(PackageTransaction, RollBackGivesBackTheFilesThatTheLastPackageReplaced) {
  TempDir root;
  MakeOld(root.Folder());
  const base::UniqueFd rootFd = OpenRoot(root.Folder());
  EXPECT_THROW(RollBackLastPackage(rootFd.get()), ETransactionError);  // nothing installed yet
  Install(root.Folder());
  const Tree first = Snapshot(root.Folder());
  Install(root.Folder(), "up260202.zip", {{"bin/a.dll", "second a"}, {"second/s.txt", "s"}});
  // The first package's backups went when the second one committed.
  EXPECT_EQ(RollBackLastPackage(rootFd.get()), "Rolled back up260202.zip");
  EXPECT_EQ(Snapshot(root.Folder()), first);
  try {
    RollBackLastPackage(rootFd.get());
    ADD_FAILURE() << "a second rollback";
  } catch (const ETransactionError& e) {
    EXPECT_STREQ(e.what(), "There is no update to roll back.");
  }
  // Only one package is kept to roll back; after the first alone, its own.
  TempDir single;
  MakeOld(single.Folder());
  const Tree before = Snapshot(single.Folder(), true);
  Install(single.Folder());
  EXPECT_EQ(RollBackLastPackage(OpenRoot(single.Folder()).get()), "Rolled back up260101.zip");
  EXPECT_EQ(Snapshot(single.Folder(), true), before);
  EXPECT_EQ(Hidden(single.Folder()).size(), 1u);  // the journal that says so
  // A package taken again, all of whose files are kept, changes nothing and
  // leaves the last change to roll back.
  TempDir again;
  MakeOld(again.Folder());
  const Tree old = Snapshot(again.Folder(), true);
  Install(again.Folder());
  Install(again.Folder(), "up260101.zip", {});
  EXPECT_EQ(RollBackLastPackage(OpenRoot(again.Folder()).get()), "Rolled back up260101.zip");
  EXPECT_EQ(Snapshot(again.Folder(), true), old);
}

TEST(PackageTransaction, AnAbortedOrRefusedPackageLeavesNothingOfItself) {
  TempDir root, elsewhere;
  MakeOld(root.Folder());
  fs::create_directory_symlink(elsewhere.Folder(), root / "link");
  const Tree before = Snapshot(root.Folder(), true);
  const base::UniqueFd rootFd = OpenRoot(root.Folder());
  {
    TPackageTransaction transaction(rootFd.get(), "up260101.zip");
    transaction.Stage("bin/a.dll", 0644);
    transaction.Stage("made/here/x", 0644);
    // A folder that is a link, a file as a folder, a folder or a link as the file.
    for (const char* dest : {"link/x", "keep.txt/x", "bin", "link", "../x", "a//b"})
      EXPECT_THROW(transaction.Stage(dest, 0644), ETransactionError) << dest;
  }  // not committed
  EXPECT_EQ(Snapshot(root.Folder(), true), before);
  EXPECT_TRUE(Hidden(root.Folder()).empty());
  EXPECT_TRUE(fs::is_empty(elsewhere.Folder()));
}

}  // namespace
}  // namespace krevo::app
