#pragma once
// A local folder as the source of the packages: a USB stick, or a share that
// the system mounted. Whoever can write there is as untrusted as a server:
// only regular files are read, never through a link, each through one
// descriptor opened below the folder's, and never past its bound.
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>

#include "app/sources/PackageSource.h"
#include "base/FileDescriptor.h"

namespace krevo::app {

class TFolderPackageSource final : public TPackageSource {
 public:
  // `path` is absolute, the folder that holds the packages themselves.
  explicit TFolderPackageSource(std::string path);

  // The copy's progress, as the FTP client's work events give it: the file's
  // size, then the bytes copied so far, then the end.
  std::function<void(std::int64_t size)> OnWorkBegin;
  std::function<void(std::int64_t count)> OnWork;
  std::function<void()> OnWorkEnd;
  // `fd` (borrowed, -1: none) becomes readable once the run must stop: a copy
  // then ends with ftp::ENetOperationAborted.
  void SetStopDescriptor(int fd) { stopFd_ = fd; }

  // "file://" followed by the path.
  std::string Name() const override;
  // Opens the folder. Throws EPackageSourceError, Unreachable when it does
  // not exist (or a part of its path is no folder).
  void Connect() override;
  void EnterUpdates() override {}
  // An EPackageSourceError that says so.
  bool IsUnreachable(const std::exception& failure) const override;
  // The failure's message: "The update folder PATH cannot be opened: reason."
  std::string ConnectFailure(const std::exception& failure) const override;
  void Close() override { folder_.Reset(); }
  bool IsOpen() override { return static_cast<bool>(folder_); }
  void Reopen() override { Connect(); }
  // One Unix-style line ("-rw-r--r-- 1 0 0 SIZE Mon DD YYYY NAME") for each
  // regular file whose name is a package name (IsPackageName), links and
  // anything else passed over, in name order. Throws EPackageSourceError
  // when the folder cannot be read or holds more than
  // ftp::TNetFTP::kMaxListingLines entries or kMaxListingBytes of names.
  void FetchListing(base::TStringList& lines) override;
  // Copies the regular file `name` (never through a link) into `stream`
  // from its first byte; `resume` is not used. Throws EPackageSourceError
  // when it is no regular file, cannot be read, holds more than `maxBytes`
  // (at most maxBytes + 1 bytes are read) or, with `maxBytes` given, fewer.
  void Retrieve(const std::string& name, base::TStream& stream, bool resume,
                std::int64_t maxBytes) override;
  // Absent when there is no such file; ESmallFileRefused when it is no
  // regular file, cannot be read or is longer than `limit`.
  TSmallFile FetchSmallFile(const std::string& name, std::size_t limit) override;
  bool Resumable() const override { return false; }
  bool AcceptsResume() override { return false; }
  bool ResumeRefused() const override { return true; }
  std::optional<std::string> ModificationTime(const std::string&) override { return std::nullopt; }
  bool Resynchronize() override { return IsOpen(); }

 private:
  // `name` below the folder, opened for reading when it is a regular file
  // and no link. Returns -1 with errno ENOENT when there is none; throws
  // `T` with the reason otherwise.
  template <typename T>
  base::UniqueFd OpenRegular(const std::string& name, struct stat& st) const;
  bool StopRequested() const;

  std::string path_;
  base::UniqueFd folder_;
  int stopFd_ = -1;
};

}  // namespace krevo::app
