#pragma once
// Child processes for tests: one held running in the background (killed and
// reaped when the object goes), and one run to its end with its output caught.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace krevo::test {

namespace detail {
inline std::vector<char*> Argv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}
}  // namespace detail

// A process started in the background, with `stdinPath` (if not empty) open
// as its standard input. Killed with SIGKILL and reaped on destruction.
class BackgroundProcess final {
 public:
  explicit BackgroundProcess(const std::vector<std::string>& args,
                             const std::string& stdinPath = "") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!stdinPath.empty())
      posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
    auto argv = detail::Argv(args);
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
  }
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;
  ~BackgroundProcess() {
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

struct RunResult {
  int exitCode = -1;  // 128 + signal when killed by one
  std::string out;
  std::string err;
};

struct RunOptions {
  // Added to this environment: "NAME=value"; "NAME=" alone removes NAME.
  std::vector<std::string> extraEnv;
  // When set, polled every 10 ms while the child runs; `signal` is sent once
  // the first time it returns true.
  std::function<bool()> signalWhen;
  int signal = SIGTERM;
};

// Runs `args` in `workingDir` with standard input from /dev/null.
inline RunResult RunProcess(const std::vector<std::string>& args, const std::string& workingDir,
                            const RunOptions& options = {}) {
  const std::vector<std::string>& extraEnv = options.extraEnv;
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& x : extraEnv)
      if (entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0) replaced = true;
    if (!replaced) env.push_back(entry);
  }
  for (const std::string& x : extraEnv)
    if (x.back() != '=') env.push_back(x);
  auto argv = detail::Argv(args);
  auto envp = detail::Argv(env);
  pid_t pid = ::fork();
  if (pid == 0) {
    int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    if (::chdir(workingDir.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  RunResult result;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  bool signalled = false;
  while (open > 0) {
    const bool watching = options.signalWhen && !signalled;
    int n = ::poll(fds, 2, watching ? 10 : -1);
    if (watching && options.signalWhen()) {
      ::kill(pid, options.signal);
      signalled = true;
    }
    if (n <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
      if (got <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(got));
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace krevo::test
