#include "app/sources/PackageDownload.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/ControlEscape.h"
#include "base/Errors.h"
#include "base/HashingStream.h"
#include "ftp/NetExceptions.h"
#include "ftp/NetRetryLoop.h"

namespace krevo::app {

namespace {

TDownloadedPackage Failed(const std::string& name, const std::string& reason, bool keepCopy) {
  TDownloadedPackage failure;
  failure.failure = "Failed to download " + name + ": " + reason;
  failure.keepCopy = keepCopy;
  return failure;
}

}  // namespace

TDownloadedPackage TPackageDownload::Fetch(const TListedPackage& package) {
  const std::string& name = package.Name;
  stamp_.reset();
  anew_ = false;
  // The listed size is all that bounds what a server writes to the staging
  // folder: without one, a package is not taken at all.
  if (!package.Size) return Failed(name, "the listing gives no size for it.", false);
  if (*package.Size > static_cast<std::uint64_t>(std::max<std::int64_t>(MaxSize, 0)))
    return Failed(name,
                  "it is listed at " + std::to_string(*package.Size) +
                      " bytes, more than MaxPackageSize (" + std::to_string(MaxSize) + " bytes).",
                  false);
  TDownloadedPackage result;
  // A transfer that breaks off (a connection error, a time-out, a transient
  // reply, an end short of the listed size) is resumed where the copy ends,
  // on a new data connection and, when the control connection was lost, a
  // new session. A package that cannot be had fails alone: the next one is
  // still tried.
  ftp::TNetRetryLoop loop;
  loop.Name = name;
  loop.Retries = Retries;
  loop.FullStop = true;
  loop.StopFd = StopFd;
  // In step again for the next command, or closed when the server is lost
  // (the next try, or the next package, opens a new session).
  loop.OnResynchronize = [this] { source_.Resynchronize(); };
  loop.OnCopyEnd = [&]() -> std::int64_t {
    return result.copy && !anew_ ? result.copy->Size() : 0;
  };
  loop.OnResumeRefused = [this] { return source_.ResumeRefused(); };
  loop.OnRetry = OnRetry;
  try {
    const ftp::TNetRetryEnd end = loop.Run([&] { return TryOnce(package, result); }, random_);
    if (end.whole) return result;
    source_.Resynchronize();
    // What arrived stays, for the next run to go on from.
    TDownloadedPackage failed = Failed(name, end.failure, result.copy != nullptr);
    failed.transient = true;
    return failed;
  } catch (const base::EFCreateError& e) {
    return Failed(name, e.what(), false);
  } catch (const EStagingFull& e) {
    // Kept, a copy would only hold the disk full for the next run too.
    return Failed(name, e.what(), false);
  } catch (const base::EWriteError& e) {
    // A full disk, most likely: the copy goes, and the session, cut off in
    // the middle of a transfer, is brought back in step for the next one.
    if (ftp::StopSignalled(StopFd)) throw;
    source_.Resynchronize();
    return Failed(name,
                  "the copy in the staging folder " + staging_.Path() +
                      " cannot be written: " + (e.Errno ? std::strerror(e.Errno) : e.what()) + ".",
                  false);
  } catch (const ftp::ENetTransferTooLong& e) {
    return Failed(name, std::string(e.what()) + ".", false);
  } catch (const EPackageSourceError& e) {
    // A folder's copy that fails is not tried again: nothing about it
    // would pass with a wait.
    return Failed(name, std::string(e.what()) + ".", false);
  } catch (const ftp::ENetException& e) {
    if (ftp::StopSignalled(StopFd)) throw;  // a stop, not a link that broke
    // A permanent reply: this package cannot be had.
    if (!dynamic_cast<const ftp::ENetProtocolReplyError*>(&e)) throw;
    return Failed(name, base::FailureText(e), false);
  }
}

std::optional<std::string> TPackageDownload::TryOnce(const TListedPackage& package,
                                                     TDownloadedPackage& result) {
  const std::string& name = package.Name;
  std::unique_ptr<base::TFileStream>& copy = result.copy;
  for (;;) {
    if (!source_.IsOpen()) source_.Reopen();
    if (!copy) {
      stamp_ = OfferStamp(package);
      copy = OpenCopy(package, stamp_);
    } else if (anew_ || !source_.AcceptsResume()) {
      // A new file in the private folder, written and then read through
      // the one descriptor: nobody can put anything else in its place.
      copy = std::make_unique<base::TFileStream>(staging_.CreateFile(name), staging_.Path() + name);
      // Marked before any data arrives, so that a power cut too leaves a copy to resume.
      if (stamp_) staging_.MarkPartial(name, *stamp_);
    } else {
      copy->Seek(0, base::TSeekOrigin::soEnd);
    }
    anew_ = false;
    const std::int64_t from = copy->Position();
    const std::uint64_t done = from > 0 ? static_cast<std::uint64_t>(from) : 0;
    staging_.CheckRoom(*package.Size > done ? *package.Size - done : 0);
    try {
      Retrieve(package, result);
    } catch (const ftp::ENetProtocolReplyError& e) {
      // A server that will not go on from there (it refused REST N) is
      // asked for the whole file, at once.
      if (from == 0 || e.ReplyCode < 500) throw;
      anew_ = true;
      continue;
    }
    // A transfer cut short ends like a whole one; the listed size tells
    // them apart, where the line holds one.
    const std::int64_t received = copy->Size();
    if (!package.Size || (received >= 0 && static_cast<std::uint64_t>(received) == *package.Size))
      return std::nullopt;
    return std::to_string(received) + " of " + std::to_string(*package.Size) +
           " bytes were received.";
  }
}

void TPackageDownload::Retrieve(const TListedPackage& package, TDownloadedPackage& result) {
  // The listed size bounds what the server may send: one byte more, and the
  // transfer ends there.
  const std::int64_t limit = package.Size && *package.Size <= static_cast<std::uint64_t>(INT64_MAX)
                                 ? static_cast<std::int64_t>(*package.Size)
                                 : -1;
  if (!Hash) {
    source_.Retrieve(package.Name, *result.copy, true, limit);
    return;
  }
  // Hashed as it arrives, so that the signature check need not read it
  // again (a resumed copy is hashed where it lies).
  base::THashingStream hashing(*result.copy);
  source_.Retrieve(package.Name, hashing, true, limit);
  result.digest = hashing.Digest();
}

std::optional<std::string> TPackageDownload::OfferStamp(const TListedPackage& package) {
  // The listed size and the server's time of the file, where it answers MDTM.
  // A source that cannot resume keeps no partial copy to mark.
  if (!package.Size || !source_.Resumable()) return std::nullopt;
  return std::to_string(*package.Size) + " " + source_.ModificationTime(package.Name).value_or("-");
}

std::unique_ptr<base::TFileStream> TPackageDownload::OpenCopy(
    const TListedPackage& package, const std::optional<std::string>& stamp) {
  const std::string& name = package.Name;
  const std::string copyPath = staging_.Path() + name;
  // A copy that a stopped, killed or cut off run left of the same offer goes
  // on where it ended; anything else starts anew.
  if (stamp && source_.AcceptsResume()) {
    if (base::UniqueFd partial = staging_.OpenPartial(name, *stamp, *package.Size)) {
      auto copy = std::make_unique<base::TFileStream>(std::move(partial), copyPath);
      copy->Seek(0, base::TSeekOrigin::soEnd);
      return copy;
    }
  }
  auto copy = std::make_unique<base::TFileStream>(staging_.CreateFile(name), copyPath);
  // Marked before any data arrives, so that a power cut too leaves a copy to resume.
  if (stamp) staging_.MarkPartial(name, *stamp);
  return copy;
}

}  // namespace krevo::app
