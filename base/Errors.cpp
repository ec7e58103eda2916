#include "base/Errors.h"

#include <cerrno>

namespace krevo::base {

std::string InOutErrorMessage(int code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 101:
      return "Disk full";
    default:
      return "I/O error " + std::to_string(code);
  }
}

EInOutError::EInOutError(int code) : Exception(InOutErrorMessage(code)), ErrorCode(code) {}

int InOutCodeFromErrno(int err) {
  switch (err) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return 5;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return 101;
    case EIO:
      return 1117;  // the device I/O error, kept apart from 5 ("File access denied")
    default:
      return err > 0 ? err : 5;
  }
}

}  // namespace krevo::base
