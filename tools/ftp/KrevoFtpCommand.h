#pragma once
// The krevo-ftp command: lists or retrieves over FTP with the updater's client,
// for administrators who want to see what the updater would see.
#include <cstdio>
#include <string>
#include <vector>

namespace krevo::tools {

// Exit statuses of krevo-ftp.
enum : int {
  kExitOk = 0,
  kExitServerRefused = 1,  // the server refused (its code and text are printed)
  kExitConnection = 2,     // connection or socket failure
  kExitLocalFile = 3,      // a local file could not be written
  kExitUsage = 64,
};

// Runs krevo-ftp with `args` (without the program name). Listing lines go to
// `out`; messages, -v output and the progress display (when `err` is a
// terminal) go to `err`. Returns the exit status. Both streams are borrowed.
int RunKrevoFtp(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace krevo::tools
