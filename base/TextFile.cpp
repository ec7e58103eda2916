#include "base/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "base/Errors.h"

namespace krevo::base {

void TTextFile::Open(const std::string& path, int flags) {
  fd_.Reset();
  if (path.empty()) throw EInOutError(2);
  int fd =
      ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (fd < 0) throw EInOutError(InOutCodeFromErrno(errno));
  fd_.Reset(fd);
}

void TTextFile::Rewrite(const std::string& path) {
  Open(path, O_CREAT | O_TRUNC);
}

void TTextFile::Append(const std::string& path) {
  Open(path, O_APPEND);
}

void TTextFile::WriteLine(const std::string& line) {
  if (!fd_) throw EInOutError(105);
  std::string data = line + "\r\n";
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd_.get(), p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EInOutError(n < 0 ? InOutCodeFromErrno(errno) : 101);
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

void TTextFile::Close() {
  if (!fd_) throw EInOutError(103);
  int fd = fd_.Release();
  if (::close(fd) != 0 && errno != EINTR) throw EInOutError(InOutCodeFromErrno(errno));
}

}  // namespace krevo::base
