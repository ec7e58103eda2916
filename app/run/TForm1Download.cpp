// The download run: each package newer than the last update is downloaded
// into the private staging folder and extracted below the root folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <limits>
#include <optional>

#include "app/sources/PackageDownload.h"
#include "app/sources/PackageListing.h"
#include "app/trust/PackageSignature.h"
#include "app/install/PackageTransaction.h"
#include "app/run/TForm1.h"
#include "base/Dialogs.h"
#include "base/Errors.h"
#include "base/Paths.h"
#include "base/Streams.h"

namespace krevo::app {
namespace {

// The bytes that the user running the updater may still write on the file
// system of `folder`; nothing when it cannot be asked.
std::optional<std::uint64_t> FreeBytes(const std::string& folder) {
  base::UniqueFd fd(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct statvfs vfs;
  if (!fd || ::fstatvfs(fd.get(), &vfs) != 0) return std::nullopt;
  const std::uint64_t blocks = vfs.f_bavail, size = vfs.f_frsize;
  if (size != 0 && blocks > std::numeric_limits<std::uint64_t>::max() / size)
    return std::numeric_limits<std::uint64_t>::max();
  return blocks * size;
}

// The sum of the declared sizes of the files that extracting everything
// would write. Files that the overwrite policy will keep are counted too:
// the check asks for a little more than it may need, never less.
std::uint64_t DeclaredSize(archive::TZipBaseArchiver& archiver) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t total = 0;
  archive::TZipArchiveItem item;
  for (bool found = archiver.FindFirstEntry("*.*", item, 10431, ""); found;
       found = archiver.FindNextEntry(item)) {
    if (item.Attributes & archive::kAttrDirectory) continue;
    // A size past the signed range reads back negative: no disk holds it.
    const std::uint64_t size =
        item.UnpackedSize < 0 ? kMax : static_cast<std::uint64_t>(item.UnpackedSize);
    total = size > kMax - total ? kMax : total + size;
  }
  return total;
}

}  // namespace

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
    if (normalRun && !PackageWanted(package->Name)) continue;
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
    RecordInstalled(package.Name);
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
  std::mt19937 random{std::random_device{}()};  // the jitter of the waits before retries
  TPackageDownload download(*source_, *staging_, random);
  download.Retries = FConfig.Retries;
  download.Hash = !packageKeys_.empty();
  download.StopFd = stopFd_;
  download.OnRetry = [this](const std::string& note) {
    UpdateLog.AppendLine(note);
    host_.ShowNote(note);
    host_.ProcessMessages();
  };
  TDownloadedPackage fetched = download.Fetch(package);
  if (!fetched.copy) {
    ShowPackageFailure(fetched.failure);
    return {" ... failed", false, fetched.keepCopy};
  }
  std::unique_ptr<base::TFileStream> copy = std::move(fetched.copy);
  const std::optional<base::TBlake2b512::Digest> digest = fetched.digest;
  staging_->Complete(name);
  if (!packageKeys_.empty()) {
    if (const char* refused = SignatureRefused(name, copy->Handle(), digest ? &*digest : nullptr))
      return {refused, false, false};
  }
  if (!ExtractPackage(name, std::move(copy), copyPath)) return {" ... failed", false, false};
  return {" ... complete", true, true};
}

const char* TForm1::SignatureRefused(const std::string& name, int packageFd,
                                     const base::TBlake2b512::Digest* digest) {
  if (index_) return IndexHashRefused(name, packageFd, digest);
  const TPackageSignature check =
      FetchPackageSignature(*source_, packageKeys_, name, packageFd, digest);
  switch (check.status) {
    case TPackageSignatureStatus::psValid:
      return nullptr;
    case TPackageSignatureStatus::psNotSigned:
      ShowPackageFailure("Refused to install " + name + ": it is not signed; " + check.reason +
                         ".");
      return " ... not signed";
    case TPackageSignatureStatus::psBadSignature:
      break;
  }
  ShowPackageFailure("Refused to install " + name + ": bad signature: " + check.reason + ".");
  return " ... bad signature";
}

bool TForm1::ExtractPackage(const std::string& name, std::unique_ptr<base::TStream> copy,
                            const std::string& copyPath) {
  const std::string tempDir = FRootFolder + "/temp";
  // Only this user's: the component keeps its temporary files there. A
  // folder that exists already is left as it is; a failure is ignored.
  ::mkdir(tempDir.c_str(), 0700);
  Archiver1.TempDir = tempDir;
  Archiver1.Password = kPackagePassword;
  ProgressBar2.SetPosition(0);
  try {
    Archiver1.OpenArchiveStream(std::move(copy), copyPath);
  } catch (const base::Exception& e) {
    // The archive is invalid (EZipException) or cannot be read (EStreamError):
    // this package fails, the next one is still tried.
    ShowPackageFailure("Failed to install " + name + ": " + e.what());
    return false;
  }
  // Items rebuilt from local headers may be only the first part of the
  // package: nothing of it is installed.
  if (Archiver1.DirectoryRebuilt()) {
    Archiver1.CloseArchiveFile();
    ShowPackageFailure("Failed to install " + name +
                       ": the central directory is damaged; nothing was installed from it.");
    return false;
  }
  ProgressBar2.SetMax(Archiver1.EntryCount());
  Archiver1.BaseDir = FRootFolder;
  if (!EnoughSpaceFor(name)) {
    Archiver1.CloseArchiveFile();
    return false;
  }
  // The package goes in as one change: its files are staged beside their
  // destinations and take their places only once every entry verified; a
  // failure, a stop or a kill before then leaves the installation as it was.
  const base::UniqueFd root = OpenRootFolder();
  std::optional<TPackageTransaction> transaction;
  try {
    if (!root) throw ETransactionError("the root folder cannot be opened");
    transaction.emplace(root.get(), name);
  } catch (const ETransactionError& e) {
    Archiver1.CloseArchiveFile();
    ShowPackageFailure("Failed to install " + name + ": " + e.what());
    return false;
  }
  Archiver1.OnStageFolder = [&transaction](
                                archive::TZipBaseArchiver*, const std::string& folder,
                                const archive::TZipBaseArchiver::TFolderMadeCallback& made) {
    transaction->MakeFolder(folder, made);
  };
  Archiver1.OnStageFile = [&transaction](archive::TZipBaseArchiver*, const std::string& file,
                                         unsigned mode) { return transaction->Stage(file, mode); };
  struct Unhook {
    TUpdaterArchiver& archiver;
    ~Unhook() {
      archiver.OnStageFolder = nullptr;
      archiver.OnStageFile = nullptr;
    }
  } unhook{Archiver1};
  packageLog_.clear();
  packageExtracted_ = packageReplaced_ = 0;
  Archiver1.ResetEntryFailures();
  Archiver1.ExtractMatching("*.*", 10431, "");
  // An aborted batch leaves the rest of the entries unprocessed.
  const bool complete = !Archiver1.EntryFailed() && !Archiver1.Cancelled() &&
                        Archiver1.ProcessedCount() == Archiver1.SelectedCount();
  Archiver1.CloseArchiveFile();
  if (!complete) return false;  // the transaction goes, and the staged files with it
  try {
    transaction->Commit();
  } catch (const ETransactionError& e) {
    ShowPackageFailure("Failed to install " + name + ": " + e.what());
    return false;
  }
  // The files are in place: now they are logged and counted.
  for (const std::string& line : packageLog_) UpdateLog.AppendLine(line);
  FExtractedCount += packageExtracted_;
  FReplacedCount += packageReplaced_;
  return true;
}

bool TForm1::EnoughSpaceFor(const std::string& name) {
  const std::optional<std::uint64_t> free = FreeBytes(FRootFolder);
  if (!free) return true;  // the extraction reports a write that fails
  const std::uint64_t needed = DeclaredSize(Archiver1);
  if (needed <= *free) return true;
  ShowPackageFailure("Not enough free space to install " + name + ": " + std::to_string(needed) +
                     " bytes are needed in " + FRootFolder + ", " + std::to_string(*free) +
                     " bytes are free.");
  return false;
}

void TForm1::ShowPackageFailure(const std::string& text) {
  base::Dialogs().MessageDlg(text, base::TMsgDlgType::mtError, base::MakeButtons({base::mbOK}));
}

}  // namespace krevo::app
