// The download run: each package newer than the last update is downloaded
// into the private staging folder and extracted below the root folder.
#include <optional>

#include "app/install/PackageInstall.h"
#include "app/run/TForm1.h"
#include "app/sources/PackageDownload.h"
#include "app/sources/PackageListing.h"
#include "base/Dialogs.h"
#include "base/Errors.h"
#include "base/Paths.h"
#include "base/Streams.h"

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
  if (normalRun) trust_.LoadBadPackages(FRootFolder);
  const int start = normalRun ? 0 : ListBox1.Count() - 1;

  // The bar's range is the first package's size, whichever line is taken.
  ProgressBar1.SetMax(DownloadBarMaximum(ListBox1.Lines()));
  ProgressBar1.SetPosition(0);
  host_.ProcessMessages();
  for (int i = start; i < ListBox1.Count(); ++i) {
    // Between packages nothing waits: a stop, or the run's deadline, is
    // seen here before the next package is begun.
    if (StopRequested()) throw base::EAbort();
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
  TPackageEnd end = FetchAndInstall(package);
  if (end.installed && !PassesHealthCheck(package.Name, end.digest ? &*end.digest : nullptr))
    end = {" ... rolled back", false, false};
  if (end.installed) {
    ++installedPackages_;
    if (const std::optional<std::string> failure = trust_.RecordInstalled(
            FRootFolder, package.Name, end.digest ? &*end.digest : nullptr)) {
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
  retryBudget_.ThrowWhenSpent(source_->Name());
}

TForm1::TPackageEnd TForm1::FetchAndInstall(const TListedPackage& package) {
  const std::string& name = package.Name;
  const std::string copyPath = staging_->Path() + name;
  std::mt19937 random{std::random_device{}()};  // the jitter of the waits before retries
  TPackageDownload download(*source_, *staging_, random);
  download.Retries = FConfig.Retries;
  download.Hash = trust_.ChecksPackages();
  download.StopFd = stopFd_;
  download.MaxSize = FConfig.MaxPackageSize;
  download.OnRetry = [this](const std::string& note) {
    UpdateLog.AppendLine(note);
    host_.ShowNote(note);
    host_.ProcessMessages();
  };
  TDownloadedPackage fetched = download.Fetch(package);
  retryBudget_.Count(fetched);
  if (!fetched.copy) {
    ShowPackageFailure(fetched.failure);
    return {" ... failed", false, fetched.keepCopy};
  }
  std::unique_ptr<base::TFileStream> copy = std::move(fetched.copy);
  const std::optional<base::TBlake2b512::Digest> digest = fetched.digest;
  staging_->Complete(name);
  if (const std::optional<TPackageRefusal> refused =
          trust_.Refusal(*source_, name, copy->Handle(), digest ? &*digest : nullptr)) {
    ShowPackageFailure(refused->text);
    return {refused->ending, false, false};
  }
  if (!ExtractPackage(name, std::move(copy), copyPath)) return {" ... failed", false, false};
  return {" ... complete", true, true, digest};
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
