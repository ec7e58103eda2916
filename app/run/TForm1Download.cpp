// The download run: each package newer than the last update is downloaded
// into the private staging folder and extracted below the root folder.
#include <optional>

#include "base/HashingStream.h"
#include "app/sources/PackageListing.h"
#include "app/install/PackageInstall.h"
#include "app/run/TForm1.h"
#include "base/ControlEscape.h"
#include "base/Dialogs.h"
#include "base/Errors.h"
#include "base/Paths.h"
#include "base/Streams.h"
#include "ftp/NetExceptions.h"
#include "ftp/NetRetry.h"

namespace krevo::app {
void TForm1::Button1Click(const TButton* Sender) {
  FExtractedCount = 0;
  FPackageCount = 0;
  host_.SetWaitCursor(true);
  MakeSources();
  if (!source_) source_ = sources_.front().get();
  try {
    source_->Connect();
  } catch (const std::exception& e) {
    host_.SetWaitCursor(false);
    if (StopRequested()) throw;  // a stop, not a server that cannot be reached
    base::Dialogs().MessageDlg(source_->ConnectFailure(e), base::TMsgDlgType::mtError,
                               base::MakeButtons({base::mbOK}));
    outcome_ = TRunOutcome::ConnectFailed;
    return;
  }
  source_->EnterUpdates();
  const bool normalRun = Sender == &Button1;
  const int start = normalRun ? 0 : ListBox1.Count() - 1;

  // The bar's range is the first package's size, whichever line is taken.
  ProgressBar1.SetMax(DownloadBarMaximum(ListBox1.Lines()));
  ProgressBar1.SetPosition(0);
  host_.ProcessMessages();
  for (int i = start; i < ListBox1.Count(); ++i) {
    ProgressBar1.SetPosition(i);
    host_.ProcessMessages();
    host_.SelectListLine(i);
    // The server names the packages, and a name becomes a local file: only
    // a package name is taken, from a line of either listing style.
    const std::optional<TListedPackage> package = ReadListingLine(ListBox1[i]);
    if (!package) continue;
    if (normalRun && !trust_.Wants(package->Name, FLastUpdate)) continue;
    ++FPackageCount;
    InstallPackage(i, *package);
  }
  host_.SetWaitCursor(false);
  source_->Close();
}

void TForm1::InstallPackage(int index, const TListedPackage& package) {
  if (!staging_) staging_ = std::make_unique<TStagingFolder>(base::TempFolderPath());
  const TPackageEnd end = FetchAndInstall(package);
  if (end.installed) {
    ++installedPackages_;
    if (const std::optional<std::string> failure =
            trust_.RecordInstalled(FRootFolder, package.Name)) {
      // The package is in place; the next run with an index installs it again.
      ++failedPackages_;
      UpdateLog.AppendLine(*failure);
      ShowPackageFailure(*failure);
    }
  } else {
    ++failedPackages_;
    // Nothing can come of a copy that was refused or could not be installed
    // but to fill the disk; one cut short is kept, as a copy always stayed.
    if (!end.keepCopy) staging_->Remove(package.Name);
  }
  ListBox1.Put(index, ListBox1[index] + end.ending);
  RunRecord.AddPackage(package.Name, end.ending);
}

TForm1::TPackageEnd TForm1::FetchAndInstall(const TListedPackage& package) {
  const std::string& name = package.Name;
  const std::string copyPath = staging_->Path() + name;
  std::unique_ptr<base::TFileStream> copy;
  std::optional<base::TBlake2b512::Digest> digest;
  if (const std::optional<TPackageEnd> end = Download(package, copyPath, copy, digest)) return *end;
  staging_->Complete(name);
  if (const std::optional<TPackageRefusal> refused =
          trust_.Refusal(*source_, name, copy->Handle(), digest ? &*digest : nullptr)) {
    ShowPackageFailure(refused->text);
    return {refused->ending, false, false};
  }
  if (!ExtractPackage(name, std::move(copy), copyPath)) return {" ... failed", false, false};
  return {" ... complete", true, true};
}

std::optional<TForm1::TPackageEnd> TForm1::Download(
    const TListedPackage& package, const std::string& copyPath,
    std::unique_ptr<base::TFileStream>& copy, std::optional<base::TBlake2b512::Digest>& digest) {
  const std::string& name = package.Name;
  const TPackageEnd failed{" ... failed", false, false};
  // The listed size bounds what the server may send: one byte more, and the
  // transfer ends there.
  const std::int64_t limit = package.Size && *package.Size <= static_cast<std::uint64_t>(INT64_MAX)
                                 ? static_cast<std::int64_t>(*package.Size)
                                 : -1;
  const auto retrieve = [&] {
    if (trust_.ChecksPackages()) {
      // Hashed as it arrives, so that the signature check need not read it
      // again (a resumed copy is hashed where it lies).
      base::THashingStream hashing(*copy);
      source_->Retrieve(name, hashing, true, limit);
      digest = hashing.Digest();
    } else {
      source_->Retrieve(name, *copy, true, limit);
    }
  };
  // What the server offers, as far as it tells (OfferStamp).
  std::optional<std::string> stamp;
  // A new file in the private folder, written and then read through the one
  // descriptor: nobody can put anything else in its place in between.
  const auto startAnew = [&] {
    copy = std::make_unique<base::TFileStream>(staging_->CreateFile(name), copyPath);
    // Marked before any data arrives, so that a power cut too leaves a copy to resume.
    if (stamp) staging_->MarkPartial(name, *stamp);
  };
  int retries = 0;
  bool anew = false;  // the next try starts from the first byte
  // A transfer that breaks off (a connection error, a time-out, a transient
  // reply, an end short of the listed size) is resumed where the copy ends,
  // on a new data connection and, when the control connection was lost, a
  // new session, up to Retries times. A package that cannot be had fails
  // alone: the next one is still tried.
  for (;;) {
    std::string failure;  // why this try did not bring the whole file
    try {
      if (!source_->IsOpen()) source_->Reopen();
      if (!copy) {
        stamp = OfferStamp(package);
        copy = OpenCopy(package, copyPath, stamp);
      } else if (anew || !source_->AcceptsResume()) {
        startAnew();
      } else {
        copy->Seek(0, base::TSeekOrigin::soEnd);
      }
      anew = false;
      const std::int64_t from = copy->Position();
      try {
        retrieve();
      } catch (const ftp::ENetProtocolReplyError& e) {
        // A server that will not go on from there (it refused REST N) is
        // asked for the whole file, at once.
        if (from == 0 || e.ReplyCode < 500) throw;
        anew = true;
        continue;
      }
      // A transfer cut short ends like a whole one; the listed size tells
      // them apart, where the line holds one.
      const std::int64_t received = copy->Size();
      if (!package.Size || (received >= 0 && static_cast<std::uint64_t>(received) == *package.Size))
        return std::nullopt;
      failure = std::to_string(received) + " of " + std::to_string(*package.Size) +
                " bytes were received.";
    } catch (const base::EFCreateError& e) {
      ShowPackageFailure("Failed to download " + name + ": " + e.what());
      return failed;
    } catch (const ftp::ENetTransferTooLong& e) {
      ShowPackageFailure("Failed to download " + name + ": " + e.what() + ".");
      return failed;
    } catch (const EPackageSourceError& e) {
      // A folder's copy that fails is not tried again: nothing about it
      // would pass with a wait.
      ShowPackageFailure("Failed to download " + name + ": " + e.what() + ".");
      return failed;
    } catch (const ftp::ENetException& e) {
      if (StopRequested()) throw;  // a stop, not a link that broke
      const auto* reply = dynamic_cast<const ftp::ENetProtocolReplyError*>(&e);
      if (!ftp::IsTransientFailure(e)) {
        if (!reply) throw;
        // A permanent reply: this package cannot be had.
        ShowPackageFailure("Failed to download " + name + ": " + FailureText(e));
        return failed;
      }
      failure = FailureText(e);
      if (failure.empty() || failure.back() != '.') failure += '.';
    }
    // In step again for the next command, or closed when the server is lost
    // (the next try, or the next package, opens a new session).
    source_->Resynchronize();
    if (retries >= FConfig.Retries) {
      // What arrived stays, for the next run to go on from.
      ShowPackageFailure("Failed to download " + name + ": " + failure);
      return TPackageEnd{" ... failed", false, copy != nullptr};
    }
    ++retries;
    const std::int64_t at = copy && !anew && !source_->ResumeRefused() ? copy->Size() : 0;
    const std::string note = "Retrying " + name + " from byte " + std::to_string(at) + " (" +
                             std::to_string(retries) + " of " + std::to_string(FConfig.Retries) +
                             "): " + failure;
    UpdateLog.AppendLine(note);
    host_.ShowNote(note);
    host_.ProcessMessages();
    if (!ftp::PauseBeforeRetry(ftp::RetryDelayMilliseconds(retries, retryRandom_), stopFd_))
      throw ftp::ENetOperationAborted();
  }
}

std::string TForm1::FailureText(const std::exception& e) {
  // One line: a reply's text comes from the server, and a socket error's
  // reason follows its number on a line of its own.
  std::string text = e.what();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (std::size_t p; (p = text.find("\r\n")) != std::string::npos;) text.replace(p, 2, ": ");
  return base::EscapeControlCharacters(text);
}

std::optional<std::string> TForm1::OfferStamp(const TListedPackage& package) {
  // The listed size and the server's time of the file, where it answers MDTM.
  // A source that cannot resume keeps no partial copy to mark.
  if (!package.Size || !source_->Resumable()) return std::nullopt;
  return std::to_string(*package.Size) + " " +
         source_->ModificationTime(package.Name).value_or("-");
}

std::unique_ptr<base::TFileStream> TForm1::OpenCopy(const TListedPackage& package,
                                                    const std::string& copyPath,
                                                    const std::optional<std::string>& stamp) {
  const std::string& name = package.Name;
  // A copy that a stopped, killed or cut off run left of the same offer goes
  // on where it ended; anything else starts anew.
  if (stamp && source_->AcceptsResume()) {
    if (base::UniqueFd partial = staging_->OpenPartial(name, *stamp, *package.Size)) {
      auto copy = std::make_unique<base::TFileStream>(std::move(partial), copyPath);
      copy->Seek(0, base::TSeekOrigin::soEnd);
      return copy;
    }
  }
  auto copy = std::make_unique<base::TFileStream>(staging_->CreateFile(name), copyPath);
  // Marked before any data arrives, so that a power cut too leaves a copy to resume.
  if (stamp) staging_->MarkPartial(name, *stamp);
  return copy;
}

bool TForm1::ExtractPackage(const std::string& name, std::unique_ptr<base::TStream> copy,
                            const std::string& copyPath) {
  TPackageInstall install(Archiver1, FRootFolder);
  install.OnOpened = [this](int entryCount) { ProgressBar2.SetMax(entryCount); };
  ProgressBar2.SetPosition(0);
  packageLog_.clear();
  packageExtracted_ = packageReplaced_ = 0;
  const TInstallEnd end = install.Install(name, std::move(copy), copyPath);
  if (!end.installed) {
    if (!end.failure.empty()) ShowPackageFailure(end.failure);
    return false;
  }
  // The files are in place: now they are logged and counted.
  for (const std::string& line : packageLog_) UpdateLog.AppendLine(line);
  FExtractedCount += packageExtracted_;
  FReplacedCount += packageReplaced_;
  return true;
}

void TForm1::ShowPackageFailure(const std::string& text) {
  base::Dialogs().MessageDlg(text, base::TMsgDlgType::mtError, base::MakeButtons({base::mbOK}));
}

}  // namespace krevo::app
