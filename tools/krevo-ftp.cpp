// krevo-ftp: lists and retrieves over FTP with the updater's own client.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/ftp/KrevoFtpCommand.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return krevo::tools::RunKrevoFtp(args, stdout, stderr);
}
