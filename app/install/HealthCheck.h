#pragma once
// The check of an installation after a package is in place: a program below
// the root folder, run as an unprivileged user with a clean environment and
// a time limit. Its exit status 0 says the installation works.
#include <string>
#include <vector>

namespace krevo::app {

// The user a check runs as: "nobody", 65534 when the system has none.
struct TCheckUser {
  unsigned uid = 65534;
  unsigned gid = 65534;
};
TCheckUser CheckUser();

// How a check ended.
struct THealthCheckEnd {
  bool passed = false;
  // Why it failed: "exited with status 1", "was killed by signal 9", "did not
  // finish within 60 seconds", "cannot be run: ..." (a path refused, a
  // program that cannot be started). Empty when it passed.
  std::string failure;
  // The last lines of what it wrote to its output and error (at most
  // kKeptOutputBytes, kKeptOutputLines), control characters escaped
  // (EscapeControlCharacters: one line of text). Empty when it wrote none.
  std::string output;
  // The run's stop came before the check ended; it was killed.
  bool stopped = false;
};
inline constexpr std::size_t kKeptOutputBytes = 4096;
inline constexpr std::size_t kKeptOutputLines = 5;

// Runs the check `path` with `args` for the installation whose root folder
// is `rootFd` (borrowed). `path` is absolute, then below `rootFolder`, or
// relative to the root folder; it is resolved below the open root folder
// without following a link and without "..", and the program executed is
// the file so opened (a regular file), never looked up by name again.
//
// The check runs in its own process group as `user` (supplementary groups
// dropped, no new privileges), with PATH=/usr/bin:/bin as its whole
// environment, the root folder as its working folder, /dev/null as its input
// and a pipe as its output and error. It has `timeoutSeconds` (at least 1) to
// end; past them, or when `stopFd` (borrowed; -1: none) becomes readable, its
// whole group is killed (SIGKILL). Whatever it left running in its group is
// killed when it ends. Never throws but std::bad_alloc.
THealthCheckEnd RunHealthCheck(int rootFd, const std::string& rootFolder, const std::string& path,
                               const std::vector<std::string>& args, int timeoutSeconds,
                               const TCheckUser& user, int stopFd = -1);

// Splits a configured check ("PATH ARG ...") at blanks into the program and
// its arguments; empty for a blank text.
std::vector<std::string> SplitCheckCommand(const std::string& text);

}  // namespace krevo::app
