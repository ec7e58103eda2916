#pragma once
// The updater's fixed account (krevoftp / q7wz2kp) as a local user of this
// machine, for tests that run vsftpd, which logs local users in through PAM.
// Tests run side by side and share the one account name, so the object holds
// an exclusive lock for its whole life: no test deletes the user, or changes
// its password, while another one logs in with it.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace krevo::ftp::test {

class TLocalFtpAccount {
 public:
  // Waits for the lock, then makes the user when it is missing (with a login
  // shell, which Debian's vsftpd PAM service asks for, and "/" as its home)
  // and sets its password. Needs root. Throws std::runtime_error.
  TLocalFtpAccount() {
    lock_ =
        ::open("/tmp/krevo-test-ftp-account.lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_ < 0 || ::flock(lock_, LOCK_EX) != 0)
      throw std::runtime_error("cannot lock the test account");
    if (!::getpwnam("krevoftp")) {
      if (std::system("/usr/sbin/useradd -M -d / -s /bin/sh krevoftp") != 0)
        throw std::runtime_error("useradd krevoftp failed");
      created_ = true;
    }
    if (std::system("echo krevoftp:q7wz2kp | /usr/sbin/chpasswd") != 0)
      throw std::runtime_error("chpasswd krevoftp failed");
  }
  // Removes the user if this object made it, then lets the next test in.
  ~TLocalFtpAccount() {
    if (created_) std::system("/usr/sbin/userdel krevoftp >/dev/null 2>&1");
    if (lock_ >= 0) ::close(lock_);
  }
  TLocalFtpAccount(const TLocalFtpAccount&) = delete;
  TLocalFtpAccount& operator=(const TLocalFtpAccount&) = delete;

 private:
  int lock_ = -1;
  bool created_ = false;
};

}  // namespace krevo::ftp::test
