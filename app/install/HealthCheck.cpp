#include "app/install/HealthCheck.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "base/ControlEscape.h"
#include "base/FileDescriptor.h"
#include "base/FolderBeneath.h"

namespace krevo::app {
namespace {

// The check's process, killed with its group and reaped whatever happens.
class TCheckProcess final {
 public:
  explicit TCheckProcess(pid_t pid) : pid_(pid) {}
  TCheckProcess(const TCheckProcess&) = delete;
  TCheckProcess& operator=(const TCheckProcess&) = delete;
  ~TCheckProcess() {
    KillGroup();
    if (!reaped_) Wait(0);
  }
  pid_t Pid() const { return pid_; }
  // Whatever the check started lives no longer than the check.
  void KillGroup() const { ::kill(-pid_, SIGKILL); }
  // Waits for the end (`flags` WNOHANG: only looks); true when it ended.
  bool Wait(int flags) {
    if (reaped_) return true;
    pid_t r;
    do r = ::waitpid(pid_, &status_, flags);
    while (r < 0 && errno == EINTR);
    if (r == pid_ || (r < 0 && errno == ECHILD)) reaped_ = true;
    return reaped_;
  }
  int Status() const { return status_; }

 private:
  pid_t pid_;
  int status_ = 0;
  bool reaped_ = false;
};

// The check's output: its last kKeptOutputBytes.
class TOutputTail final {
 public:
  void Add(const char* data, std::size_t size) {
    tail_.append(data, size);
    if (tail_.size() > 2 * kKeptOutputBytes) tail_.erase(0, tail_.size() - kKeptOutputBytes);
  }
  std::string Text() const {
    std::string text =
        tail_.size() > kKeptOutputBytes ? tail_.substr(tail_.size() - kKeptOutputBytes) : tail_;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::size_t lines = 0;
    for (std::size_t at = text.size(); at > 0; --at) {
      if (text[at - 1] == '\n' && ++lines == kKeptOutputLines) {
        text.erase(0, at);
        break;
      }
    }
    return base::EscapeControlCharacters(text);
  }

 private:
  std::string tail_;
};

THealthCheckEnd CannotRun(const std::string& why) {
  return {false, "cannot be run: " + why, {}, false};
}

// `path` as a path below the root folder, or nothing when it lies elsewhere.
std::optional<std::string> BelowRoot(const std::string& path, std::string rootFolder) {
  if (path.empty()) return std::nullopt;
  if (path[0] != '/') return path;
  while (rootFolder.size() > 1 && rootFolder.back() == '/') rootFolder.pop_back();
  if (rootFolder.empty() || rootFolder[0] != '/') return std::nullopt;
  if (rootFolder == "/") return path.substr(1);
  if (path.size() <= rootFolder.size() + 1 || path.compare(0, rootFolder.size(), rootFolder) != 0 ||
      path[rootFolder.size()] != '/')
    return std::nullopt;
  return path.substr(rootFolder.size() + 1);
}

// In the child, only async-signal-safe calls: a message and the end.
[[noreturn]] void ChildFails(const char* step) {
  const int error = errno;
  const char* text = std::strerror(error);  // a table lookup in glibc
  (void)!::write(STDERR_FILENO, "health check ", 13);
  (void)!::write(STDERR_FILENO, step, std::strlen(step));
  (void)!::write(STDERR_FILENO, ": ", 2);
  (void)!::write(STDERR_FILENO, text, std::strlen(text));
  (void)!::write(STDERR_FILENO, "\n", 1);
  ::_exit(127);
}

[[noreturn]] void RunChild(int rootFd, int programFd, int outFd, int nullFd, const TCheckUser& user,
                           char* const argv[], char* const envp[]) {
  ::setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int s = 1; s < NSIG; ++s) ::signal(s, SIG_DFL);
  if (::dup2(nullFd, STDIN_FILENO) < 0 || ::dup2(outFd, STDOUT_FILENO) < 0 ||
      ::dup2(outFd, STDERR_FILENO) < 0)
    ::_exit(127);
  if (::fchdir(rootFd) != 0) ChildFails("cannot enter the root folder");
  if (::setgroups(0, nullptr) != 0) ChildFails("cannot drop its groups");
  if (::setgid(user.gid) != 0) ChildFails("cannot change its group");
  if (::setuid(user.uid) != 0) ChildFails("cannot change its user");
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) ChildFails("cannot give up new privileges");
  // Nothing of the updater's is passed on but the program's own descriptor,
  // which a script's interpreter reads through /dev/fd.
  for (int fd = 3; fd < 1024; ++fd)
    if (fd != programFd) ::close(fd);
  ::syscall(SYS_close_range, 1024U, ~0U, 0U);
  ::fcntl(programFd, F_SETFD, 0);
  ::syscall(SYS_execveat, programFd, "", argv, envp, AT_EMPTY_PATH);
  ChildFails("cannot be started");
}

// `fd` moved above the standard three, which the child replaces: a run
// started with one of them closed gets its files there.
base::UniqueFd AboveStandard(base::UniqueFd fd) {
  if (!fd || fd.get() > STDERR_FILENO) return fd;
  return base::UniqueFd(::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
}

std::string Seconds(int n) {
  return std::to_string(n) + (n == 1 ? " second" : " seconds");
}

}  // namespace

TCheckUser CheckUser() {
  TCheckUser user;
  if (const passwd* pw = ::getpwnam("nobody")) {
    user.uid = pw->pw_uid;
    user.gid = pw->pw_gid;
  }
  return user;
}

std::vector<std::string> SplitCheckCommand(const std::string& text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (true) {
    at = text.find_first_not_of(" \t", at);
    if (at == std::string::npos) break;
    const std::size_t end = text.find_first_of(" \t", at);
    words.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end;
  }
  return words;
}

THealthCheckEnd RunHealthCheck(int rootFd, const std::string& rootFolder, const std::string& path,
                               const std::vector<std::string>& args, int timeoutSeconds,
                               const TCheckUser& user, int stopFd) {
  const std::string shown = base::EscapeControlCharacters(path);
  const std::optional<std::string> relative = BelowRoot(path, rootFolder);
  if (!relative) return CannotRun(shown + " is not below the root folder");
  const std::size_t slash = relative->rfind('/');
  const std::string folderPath = slash == std::string::npos ? "" : relative->substr(0, slash);
  const std::string leaf = slash == std::string::npos ? *relative : relative->substr(slash + 1);
  if (leaf.empty() || leaf == "." || leaf == "..")
    return CannotRun(shown + " names no program below the root folder");
  const base::UniqueFd folder = base::OpenFolderBeneath(rootFd, folderPath, false, {});
  if (!folder)
    return CannotRun("the folder of " + shown + " cannot be opened below the root folder (" +
                     std::strerror(errno) + ")");
  const base::UniqueFd program = AboveStandard(base::UniqueFd(
      ::openat(folder.get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)));
  if (!program) return CannotRun(shown + " cannot be opened (" + std::strerror(errno) + ")");
  struct stat st;
  if (::fstat(program.get(), &st) != 0 || !S_ISREG(st.st_mode))
    return CannotRun(shown + " is not a regular file");

  // Everything the child needs is made before the fork.
  std::vector<std::string> words{path};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::string pathVariable = "PATH=/usr/bin:/bin";
  char* envp[] = {pathVariable.data(), nullptr};
  const base::UniqueFd nullFd =
      AboveStandard(base::UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC)));
  int pipeFds[2];
  if (!nullFd || ::pipe2(pipeFds, O_CLOEXEC) != 0)
    return CannotRun(std::string("no pipe for its output (") + std::strerror(errno) + ")");
  base::UniqueFd readEnd(pipeFds[0]);
  base::UniqueFd writeEnd = AboveStandard(base::UniqueFd(pipeFds[1]));
  const base::UniqueFd rootCopy =
      AboveStandard(base::UniqueFd(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0)));
  if (!writeEnd || !rootCopy)
    return CannotRun(std::string("no descriptor to spare (") + std::strerror(errno) + ")");

  const pid_t pid = ::fork();
  if (pid < 0) return CannotRun(std::string("fork failed (") + std::strerror(errno) + ")");
  if (pid == 0)
    RunChild(rootCopy.get(), program.get(), writeEnd.get(), nullFd.get(), user, argv.data(), envp);
  TCheckProcess child(pid);
  ::setpgid(pid, pid);  // either side may come first
  writeEnd.Reset();
  ::fcntl(readEnd.get(), F_SETFL, O_NONBLOCK);
  const base::UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));

  THealthCheckEnd end;
  TOutputTail output;
  const int limit = timeoutSeconds < 1 ? 1 : timeoutSeconds;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit);
  bool timedOut = false;
  char buffer[4096];
  const auto drain = [&] {
    ssize_t n;
    while ((n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0)
      output.Add(buffer, static_cast<std::size_t>(n));
    return n == 0;  // the end of the output
  };
  bool outputOpen = true;
  while (!child.Wait(WNOHANG)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    pollfd fds[3] = {{outputOpen ? readEnd.get() : -1, POLLIN, 0},
                     {pidFd.get(), POLLIN, 0},
                     {stopFd, POLLIN, 0}};
    // Without a pidfd the child's end is looked at every 50 ms.
    const int wait = pidFd ? static_cast<int>(std::min<long long>(left.count(), 60000)) : 50;
    const int r = ::poll(fds, 3, std::min(wait, static_cast<int>(left.count())));
    if (r < 0 && errno != EINTR) break;
    if (fds[2].revents) {
      end.stopped = true;
      break;
    }
    if (fds[0].revents && drain()) outputOpen = false;
  }
  child.KillGroup();
  child.Wait(0);
  if (outputOpen) drain();  // what is left; a grandchild holding the pipe is killed too
  end.output = output.Text();
  const int status = child.Status();
  if (end.stopped) {
    end.failure = "was stopped";
  } else if (timedOut) {
    end.failure = "did not finish within " + Seconds(limit);
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    end.passed = true;
  } else if (WIFEXITED(status)) {
    end.failure = "exited with status " + std::to_string(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    end.failure = "was killed by signal " + std::to_string(WTERMSIG(status));
  } else {
    end.failure = "ended in an unknown way";
  }
  return end;
}

}  // namespace krevo::app
