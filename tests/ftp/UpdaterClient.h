#pragma once
// Sets a TNetFTP up as the updater does (its account, passive mode) against a
// test server on host:port (127.0.0.1 unless said), with a read limit so a broken server fails the
// test instead of hanging it.
#include "ftp/NetFTP.h"

namespace krevo::ftp::test {

inline void ConfigureAsUpdater(TNetFTP& ftp, int port, const std::string& host = "127.0.0.1") {
  ftp.SetHost(host);
  ftp.SetPort(port);
  ftp.Username = "krevoftp";
  ftp.Password = "q7wz2kp";
  ftp.Passive = true;
  ftp.ReadTimeout = 20000;
}

}  // namespace krevo::ftp::test
