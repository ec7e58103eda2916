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
#include <functional>
#include <map>
#include <regex>

#include "app/install/PackageTransaction.h"
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

void Put(const TempDir& root, const std::string& name, const std::string& content,
         unsigned mode = 0644) {
  fs::create_directories(fs::path(root / name).parent_path());
  root.Write(name, content);
  ::chmod((root / name).c_str(), mode);
  struct utimbuf t = {978350400, 978350400};  // 2001-01-01
  ::utime((root / name).c_str(), &t);
}

// An installation of some twenty files: replaced, kept and added ones, some
// in folders the package makes.
void MakeOld(const TempDir& root) {
  Put(root, "bin/a.dll", "old a", 0640);
  Put(root, "keep.txt", "kept");
  for (int i = 0; i < 5; ++i) Put(root, "old/f" + std::to_string(i), "old " + std::to_string(i));
}

const std::vector<std::pair<std::string, std::string>> kPackage = [] {
  std::vector<std::pair<std::string, std::string>> files = {
      {"bin/a.dll", "new a"}, {"bin/b.dll", "new b"}, {"new/deep/c.txt", "new c"}};
  for (int i = 0; i < 5; ++i)
    files.push_back({"old/f" + std::to_string(i), "new " + std::to_string(i)});
  for (int i = 0; i < 10; ++i)
    files.push_back({"many/f" + std::to_string(i), std::string(i * 100, 'm')});
  files.push_back({"bin/a.dll", "newer a"});  // a package may name a file twice
  return files;
}();

base::UniqueFd OpenRoot(const TempDir& root) {
  return base::UniqueFd(::open(root.Folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void Install(const TempDir& root, const std::string& package = "up260101.zip",
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

TEST(PackageTransaction, ACrashAtAnyStepOfAnInstallOrARollbackLeavesTheOldOrTheNewWhole) {
  TempDir reference;
  MakeOld(reference);
  const Tree before = Snapshot(reference.Folder());
  Install(reference);
  const Tree after = Snapshot(reference.Folder());
  ASSERT_NE(before, after);
  struct Case {
    const char* what;
    std::function<void(const TempDir&)> prepare, action;
  };
  const std::vector<Case> cases = {
      {"install", [](const TempDir&) {}, [](const TempDir& root) { Install(root); }},
      {"rollback", [](const TempDir& root) { Install(root); },
       [](const TempDir& root) { RollBackLastPackage(OpenRoot(root).get()); }},
  };
  for (const Case& c : cases) {
    int olds = 0, news = 0;
    for (int step = 1;; ++step) {
      SCOPED_TRACE(std::string(c.what) + ", crash at step " + std::to_string(step));
      TempDir root;
      MakeOld(root);
      const Tree old = Snapshot(root.Folder(), true);  // folder times given back too
      c.prepare(root);
      const bool died = DiesAtStep(step, [&] { c.action(root); });
      const std::optional<std::string> line = RecoverInterruptedUpdate(OpenRoot(root).get());
      const Tree now = Snapshot(root.Folder());
      const bool isOld = Snapshot(root.Folder(), true) == old, isNew = now == after;
      EXPECT_TRUE(isOld || isNew) << Difference(Snapshot(root.Folder(), true), old);
      olds += isOld;
      news += isNew;
      for (const std::string& name : Hidden(root.Folder()))
        EXPECT_TRUE(std::regex_search(name, std::regex(R"(-b\d+$|journal(\.previous)?$)")))
            << "a staged file is left: " << name;
      if (line) {
        EXPECT_TRUE(std::regex_match(
            *line, std::regex("Interrupted update of up260101.zip (rolled back|completed)|"
                              "Rolled back up260101.zip")))
            << *line;
      }
      // The next run installs the package as if nothing had happened, and a
      // package completed by the recovery rolls back like any other.
      if (c.what == std::string("install") && isOld) {
        Install(root);
        EXPECT_EQ(Snapshot(root.Folder()), after);
      }
      if (c.what == std::string("install")) {
        RollBackLastPackage(OpenRoot(root).get());
        EXPECT_EQ(Snapshot(root.Folder(), true), old);
      }
      if (!died) break;
      ASSERT_LT(step, 500);
    }
    // Crashes early leave the old installation, crashes late the new one.
    EXPECT_GT(olds, 0) << c.what;
    EXPECT_GT(news, 0) << c.what;
  }
}

TEST(PackageTransaction, RollBackGivesBackTheFilesThatTheLastPackageReplaced) {
  TempDir root;
  MakeOld(root);
  const base::UniqueFd rootFd = OpenRoot(root);
  EXPECT_THROW(RollBackLastPackage(rootFd.get()), ETransactionError);  // nothing installed yet
  Install(root);
  const Tree first = Snapshot(root.Folder());
  Install(root, "up260202.zip", {{"bin/a.dll", "second a"}, {"second/s.txt", "s"}});
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
  MakeOld(single);
  const Tree before = Snapshot(single.Folder(), true);
  Install(single);
  EXPECT_EQ(RollBackLastPackage(OpenRoot(single).get()), "Rolled back up260101.zip");
  EXPECT_EQ(Snapshot(single.Folder(), true), before);
  EXPECT_EQ(Hidden(single.Folder()).size(), 1u);  // the journal that says so
  // A package taken again, all of whose files are kept, changes nothing and
  // leaves the last change to roll back.
  TempDir again;
  MakeOld(again);
  const Tree old = Snapshot(again.Folder(), true);
  Install(again);
  Install(again, "up260101.zip", {});
  EXPECT_EQ(RollBackLastPackage(OpenRoot(again).get()), "Rolled back up260101.zip");
  EXPECT_EQ(Snapshot(again.Folder(), true), old);
}

TEST(PackageTransaction, AnAbortedOrRefusedPackageLeavesNothingOfItself) {
  TempDir root, elsewhere;
  MakeOld(root);
  fs::create_directory_symlink(elsewhere.Folder(), root / "link");
  const Tree before = Snapshot(root.Folder(), true);
  const base::UniqueFd rootFd = OpenRoot(root);
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
