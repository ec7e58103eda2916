#pragma once
// Where a run gets its packages from: an FTP server's krevo/updates folder, or
// a local folder (a USB stick, a share the system mounted). The listing, the
// index, the signatures and the downloads of a run all go through one of
// these, so that the download loop is the same whatever the source.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "base/Errors.h"
#include "base/Streams.h"
#include "base/StringList.h"

namespace krevo::app {

// A failure of a source that is not an FTP client's: a folder that cannot be
// opened or listed, a file in it that is no regular file, that cannot be
// read or that changed while it was read. `Unreachable` says that the source
// was not there at all (a folder that does not exist: a stick not plugged in).
class EPackageSourceError final : public base::Exception {
 public:
  explicit EPackageSourceError(const std::string& message, bool unreachable = false)
      : base::Exception(message), unreachable_(unreachable) {}
  bool Unreachable() const { return unreachable_; }

 private:
  bool unreachable_;
};

// A small file received whole, or the source's word that it has none.
struct TSmallFile {
  bool present = false;
  std::string content;  // the file; when absent, the source's reason, escaped
};
// A small file that cannot be taken: longer than its bound, not a regular
// file, or refused for another reason than its absence.
class ESmallFileRefused final : public base::Exception {
 public:
  using base::Exception::Exception;
};

class TPackageSource {
 public:
  virtual ~TPackageSource() = default;
  TPackageSource() = default;
  TPackageSource(const TPackageSource&) = delete;
  TPackageSource& operator=(const TPackageSource&) = delete;

  // How the status file and the log name the source: ftp://HOST:PORT,
  // ftps://HOST:PORT or file:///PATH.
  virtual std::string Name() const = 0;
  // Reaches the source: connects and logs in, or opens the folder. Throws
  // what the FTP client throws, or EPackageSourceError.
  virtual void Connect() = 0;
  // Goes to the packages (krevo/updates on a server; nothing for a folder).
  // Throws what the FTP client throws.
  virtual void EnterUpdates() = 0;
  // Whether `failure`, thrown by Connect, means that the source could not be
  // reached at all, as against one that answered and refused.
  virtual bool IsUnreachable(const std::exception& failure) const = 0;
  // The error shown when the download run cannot reach the source again.
  virtual std::string ConnectFailure(const std::exception& failure) const = 0;
  // Ends the session, or closes the folder. Never throws.
  virtual void Close() = 0;
  // Whether the session is still there for the next transfer.
  virtual bool IsOpen() = 0;
  // A new session in the packages' folder, after the last one was lost.
  virtual void Reopen() = 0;

  // Replaces `lines` with listing lines that ReadListingLine reads, one for
  // each package offered, bounded as an FTP listing is
  // (ftp::TNetFTP::kMaxListingLines, kMaxListingBytes). Throws what the FTP
  // client throws, or EPackageSourceError; `lines` is then unspecified.
  virtual void FetchListing(base::TStringList& lines) = 0;
  // Copies `name` into `stream` (borrowed) from its position, with `resume`
  // going on where the stream ends when the source can. `maxBytes` (-1: no
  // bound) is the most the file may hold: a byte more stops the transfer
  // with ftp::ENetTransferTooLong or EPackageSourceError. A stop throws
  // ftp::ENetOperationAborted.
  virtual void Retrieve(const std::string& name, base::TStream& stream, bool resume,
                        std::int64_t maxBytes) = 0;
  // The small file `name`, at most `limit` bytes (see TSmallFile). Throws
  // ESmallFileRefused, and what the session throws otherwise.
  virtual TSmallFile FetchSmallFile(const std::string& name, std::size_t limit) = 0;

  // Whether a download that broke off can go on where it ended, in this run
  // or a later one; false: each try starts from the first byte, and no
  // partial copy is kept.
  virtual bool Resumable() const = 0;
  // Whether the source takes a resume now (asks the server once).
  virtual bool AcceptsResume() = 0;
  // Whether it was asked and refused.
  virtual bool ResumeRefused() const = 0;
  // The source's time of `name`, when it says.
  virtual std::optional<std::string> ModificationTime(const std::string& name) = 0;
  // Brings the session back in step after a transfer that failed; whether it
  // is still open. Never throws.
  virtual bool Resynchronize() = 0;
};

}  // namespace krevo::app
