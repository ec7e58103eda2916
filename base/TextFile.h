#pragma once
// A text file written line by line, every line ending in CR LF. Each open,
// write and close is checked; a failure throws EInOutError with the run-time
// I/O code.
#include <string>

#include "base/FileDescriptor.h"

namespace krevo::base {

class TTextFile final {
 public:
  TTextFile() = default;
  TTextFile(const TTextFile&) = delete;
  TTextFile& operator=(const TTextFile&) = delete;
  // Closes a file still open without reporting errors.
  ~TTextFile() = default;

  // Creates the file, or empties an existing one. Throws EInOutError.
  void Rewrite(const std::string& path);
  // Opens an existing file so that writing continues at its end. Throws
  // EInOutError (code 2 when it does not exist).
  void Append(const std::string& path);
  // Neither open follows a symbolic link in the last part of the path, nor
  // waits for a reader of a pipe: either fails as an open does.
  // Writes `line` and CR LF; the line reaches the file before this returns.
  // Throws EInOutError 105 when the file is not open for output.
  void WriteLine(const std::string& line);
  // Closes the file. Throws EInOutError 103 when it is not open.
  void Close();

  bool IsOpen() const { return static_cast<bool>(fd_); }
  // The open file's descriptor, borrowed; -1 when it is not open.
  int Handle() const { return fd_ ? fd_.get() : -1; }

 private:
  void Open(const std::string& path, int flags);
  UniqueFd fd_;
};

}  // namespace krevo::base
