#pragma once
// A listed package brought whole into the staging folder: a copy that an
// earlier run left of the same offer goes on where it ended, and a transfer
// that breaks off is retried where the copy ends (ftp::TNetRetryLoop).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "app/sources/PackageListing.h"
#include "app/sources/PackageSource.h"
#include "app/sources/StagingFolder.h"
#include "base/Blake2b512.h"
#include "base/Streams.h"
#include "ftp/NetRetry.h"

namespace krevo::app {

// What became of one package's download.
struct TDownloadedPackage {
  // The staged file, whole, read and written through the descriptor it was
  // made with; null when the download failed.
  std::unique_ptr<base::TFileStream> copy;
  // The copy's hash, when it was asked for and the copy was hashed from its
  // first byte as it arrived (a copy resumed from an earlier run is not).
  std::optional<base::TBlake2b512::Digest> digest;
  // When the download failed: the text to show ("Failed to download NAME:
  // REASON"), and whether what arrived stays for the next run to go on from.
  std::string failure;
  bool keepCopy = false;
  // Whether it failed for reasons that may pass: its retries ran out
  // (TRetryBudget counts these).
  bool transient = false;
};

class TPackageDownload final {
 public:
  // Borrows `source` (connected and in the packages' folder, or lost and
  // reopened as needed), `staging` and `random` (the jitter of the waits)
  // for its life.
  TPackageDownload(TPackageSource& source, const TStagingFolder& staging, std::mt19937& random)
      : source_(source), staging_(staging), random_(random) {}
  TPackageDownload(const TPackageDownload&) = delete;
  TPackageDownload& operator=(const TPackageDownload&) = delete;

  // The retries of one package after its first try.
  int Retries = ftp::kDefaultRetries;
  // Whether the copy is hashed as it arrives (TDownloadedPackage::digest).
  bool Hash = false;
  // Borrowed; -1: none. Readable when the run is to stop.
  int StopFd = -1;
  // The largest listed size that is downloaded.
  std::int64_t MaxSize = std::int64_t{2} << 30;

  // Each retry's line ("Retrying NAME from byte N (I of RETRIES): REASON."),
  // raised before its wait. Unassigned: nothing is said.
  std::function<void(const std::string& note)> OnRetry;

  // Downloads `package` into the staging folder as a file of its name until
  // it holds the listed size. A package without a listed size, or listed
  // larger than MaxSize, fails at once; so does one whose remaining bytes
  // the staging folder has no room for (TStagingFolder::CheckRoom), checked
  // before each try, and one whose copy cannot be written (a full disk): its
  // copy is then not kept. A transfer
  // that breaks off for a reason that may pass (ftp::IsTransientFailure), or
  // ends short of the listed size, is resumed where the copy ends, on a new
  // session when the last one was lost, after a wait, up to Retries times; a
  // server that refuses to resume (REST) is asked for the whole file at once.
  // Returns the copy (with its digest), or the failure: a file that cannot
  // be made, a file longer than listed, a source's error, a permanent reply,
  // or retries run out (the copy then stays for the next run, and the session
  // is brought back in step). Throws ftp::ENetOperationAborted, or whatever
  // broke the transfer, on a stop; and a failure that is neither one that may
  // pass nor a reply, as it is.
  TDownloadedPackage Fetch(const TListedPackage& package);

 private:
  // One try: opens or resumes the copy in `result` and retrieves into it;
  // a server that refuses to resume is asked at once for the whole file.
  // Nothing when the copy is whole, else why it is short. Throws what the
  // source throws.
  std::optional<std::string> TryOnce(const TListedPackage& package, TDownloadedPackage& result);
  // Retrieves `package` into `result.copy` from its position, bounded by the
  // listed size, hashed into `result.digest` with Hash.
  void Retrieve(const TListedPackage& package, TDownloadedPackage& result);
  // What the server offers of `package`: its listed size and the server's
  // MDTM time ("-" when it answers none); nothing without a listed size, or
  // from a source that cannot resume.
  std::optional<std::string> OfferStamp(const TListedPackage& package);
  // The staged copy for `package`, positioned where its download goes on: a
  // partial copy of the same offer `stamp` at its end, else a new file,
  // marked with `stamp`. Throws base::EFCreateError and what the source
  // throws.
  std::unique_ptr<base::TFileStream> OpenCopy(const TListedPackage& package,
                                              const std::optional<std::string>& stamp);

  TPackageSource& source_;
  const TStagingFolder& staging_;
  std::mt19937& random_;
  std::optional<std::string> stamp_;  // what the source offers (OfferStamp), this Fetch
  bool anew_ = false;                 // the next try starts from the first byte
};

}  // namespace krevo::app
