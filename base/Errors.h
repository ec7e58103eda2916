#pragma once
// The exception family of the base services. Every message is the text the user
// sees; the default error display shows it as it stands.
#include <stdexcept>
#include <string>

namespace krevo::base {

// Root of every exception raised by base services.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A silent abort: the default error display shows nothing for it.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// A date or time that cannot be encoded ("Invalid argument to date encode",
// "Invalid argument to time encode").
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A failed open, write or close of a text file. `ErrorCode` is the run-time
// I/O code (2, 3, 4, 5, 101, 105, ...); the message comes from InOutErrorMessage.
class EInOutError : public Exception {
 public:
  explicit EInOutError(int code);
  int ErrorCode;
};

// The I/O error text for a run-time I/O code: "File not found" (2), "Invalid
// filename" (3), "Too many open files" (4), "File access denied" (5), "Disk full"
// (101), otherwise "I/O error %d".
std::string InOutErrorMessage(int code);

// Maps an errno value to the run-time I/O code that the text file reports.
int InOutCodeFromErrno(int err);

// Stream failures: opening or creating a file, or a short read or write.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError("Stream read error") {}
};
class EWriteError : public EStreamError {
 public:
  // `error`: the errno of the failed write (ENOSPC for a full disk); 0: none.
  explicit EWriteError(int error = 0) : EStreamError("Stream write error"), Errno(error) {}
  int Errno;
};

// A public key that is not a minisign Ed25519 key, or a failure inside the
// crypto library while hashing or verifying. A signature that does not verify
// is not an exception: the verification returns its verdict.
class ESignatureError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace krevo::base
