#include "app/run/TForm1.h"

#include "app/install/PackageInstall.h"
#include "app/install/PackageTransaction.h"
#include "app/report/MetricsFile.h"
#include "app/report/RunStatus.h"
#include "app/report/RunSummary.h"
#include "app/sources/PackageSources.h"
#include "app/sources/UpdateSources.h"
#include "app/trust/IndexState.h"
#include "app/trust/RootOnlyPaths.h"
#include "base/AtomicFile.h"
#include "base/ControlEscape.h"
#include "base/Dialogs.h"
#include "base/FileSystem.h"
#include "base/Version.h"

namespace krevo::app {

TForm1::TForm1(TFormHost& host, TApplication& application, std::string executableFolder)
    : host_(host), application_(application), executableFolder_(std::move(executableFolder)) {
  // The fixed settings of the components.
  NetFTP1.SetHost(DefaultFtpHost());
  NetFTP1.SetPort(DefaultFtpPort());
  NetFTP1.Passive = true;
  NetFTP1.Username = kFtpUserName;
  NetFTP1.Password = kFtpPassword;
  NetFTP1.ReadTimeout = 0;
  NetFTP1.MaxLineAction = ftp::maException;
  NetFTP1.OnWorkBegin = [this](ftp::TNetComponent* s, ftp::TWorkMode m, std::int64_t n) {
    NetFTP1WorkBegin(s, m, n);
  };
  NetFTP1.OnWork = [this](ftp::TNetComponent* s, ftp::TWorkMode m, std::int64_t n) {
    NetFTP1Work(s, m, n);
  };
  NetFTP1.OnWorkEnd = [this](ftp::TNetComponent* s, ftp::TWorkMode m) { NetFTP1WorkEnd(s, m); };

  Archiver1.ExtractCorruptedFiles = false;
  Archiver1.SetCompressionLevel(archive::clFastest);
  Archiver1.SetCompressionMode(1);
  Archiver1.Options.FlushBuffers = true;
  Archiver1.Options.OEMFileNames = true;
  Archiver1.Options.OverwriteMode = archive::omPrompt;
  Archiver1.OnExtractFile = [this](archive::TZipBaseArchiver* s, std::string& name,
                                   std::uint32_t& attr, const std::string& comment) {
    Archiver1ExtractFile(s, name, attr, comment);
  };
  Archiver1.OnConfirmOverwrite = [this](archive::TZipBaseArchiver* s, const std::string& source,
                                        std::string& dest, bool& confirm) {
    Archiver1ConfirmOverwrite(s, source, dest, confirm);
  };
  Archiver1.OnFileProgress = [this](archive::TZipBaseArchiver* s, const std::string& name,
                                    double progress, archive::TZipProcessOperation op,
                                    archive::TZipProgressPhase phase, bool& cancel) {
    Archiver1FileProgress(s, name, progress, op, phase, cancel);
  };
  Archiver1.OnOverallProgress = [this](archive::TZipBaseArchiver* s, double progress,
                                       archive::TZipProcessOperation op,
                                       archive::TZipProgressPhase phase, bool& cancel) {
    Archiver1OverallProgress(s, progress, op, phase, cancel);
  };
  // The footer and the summary count the files really installed and
  // replaced: an entry is counted for its package once it verified, and the
  // package's counts are added once the package is in place.
  Archiver1.OnEntryInstalled = [this](TUpdaterArchiver*, const std::string&) {
    ++packageExtracted_;
    if (replacePending_) ++packageReplaced_;
    replacePending_ = false;
  };
}

void TForm1::FormCreate() {
  FLastUpdate = 0;
  FReplacedCount = 0;
  RefuseUnsafePaths({executableFolder_, executableFolder_ + "config.ini"});
  FConfig = ReadUpdaterConfig(executableFolder_);
  NetFTP1.SetHost(FConfig.Host);
  NetFTP1.SetPort(FConfig.Port);
  // A silent server, or one that stalls half way, must not hold an unattended
  // run for ever: the connects and every wait on both connections are bounded.
  NetFTP1.ReadTimeout = FConfig.ReadTimeout * 1000;
  NetFTP1.ConnectTimeout = FConfig.ReadTimeout * 1000;
  // Nor may one that drips (silence alone is bounded above); the cap spares a
  // metered link.
  NetFTP1.MinRate = FConfig.MinRate;
  NetFTP1.MinRateTime = FConfig.MinRateTime;
  NetFTP1.MaxRate = FConfig.MaxRate;
  NetFTP1.Security = FConfig.RequireTLS ? ftp::fsTLS : ftp::fsNone;
  NetFTP1.CAFile = FConfig.CAFile;
  Label5 = "Version : " + base::OwnFileVersion();
  FRootFolder = DeriveRootFolder(FConfig.DocumentsRoot, FConfig.ReportsRoot);
  const std::string keyFile = FConfig.PublicKey.empty()
                                  ? BesideExecutable(FConfig.PublicKeyFile, executableFolder_)
                                  : std::string();
  RefuseUnsafePaths({FRootFolder.empty() ? "." : FRootFolder, keyFile, FConfig.CAFile,
                     MetricsFolderToTrust(FConfig.MetricsFile)});
  RemoveLeftovers();
  FLastUpdate = UpdateLog.Open(FRootFolder, Clock());
}

void TForm1::RemoveLeftovers() const {
  if (const base::UniqueFd root = OpenRootFolder())
    for (const char* name : {kStatusFileName, kIndexStateName})
      base::RemoveReplaceLeftovers(root.get(), name);
  RemoveMetricsLeftovers(FConfig.MetricsFile);
}

void TForm1::RefuseUnsafePaths(std::initializer_list<std::string> paths) {
  if (!RunningAsRoot()) return;
  try {
    for (const std::string& path : paths)
      if (!path.empty()) CheckOnlyRootCanChange(path);
  } catch (const EUnsafePath&) {
    // Nothing more is read, no log is written and the run never starts.
    refused_ = true;
    Timer1Enabled = false;
    outcome_ = TRunOutcome::Failed;
    throw;
  }
}

void TForm1::FormClose() {
  if (refused_) return;  // the log was never opened
  // Only a run that reached its end with every entry installed, and that
  // installed a package, moves the date of the last update; after a failed
  // run the packages it did not install must still look new, and so must a
  // package that a run's listing did not show.
  const bool failed = outcome_ != TRunOutcome::Completed || installedPackages_ == 0;
  UpdateLog.Close(FExtractedCount, Clock(), failed);
}

void TForm1::Timer1Timer() {
  Timer1Enabled = false;
  if (outcome_ == TRunOutcome::NotStarted) outcome_ = TRunOutcome::InProgress;
  // A key that cannot be read must not turn into a run that installs
  // unchecked packages: the error ends the run before anything is contacted.
  trust_.LoadKeys(FConfig, executableFolder_);
  if (FConfig.Phasing && !IgnorePhasing)
    trust_.SetPhasing(TPhaseIdentity(FConfig.PhaseGroup, ReadMachineId()));
  // So must a Sources value that cannot be read, or a folder that would
  // install unchecked packages.
  MakeSources();
  if (!MainExecutableFree()) return;
  // Before anything is contacted: a server that cannot be reached must not
  // leave an interrupted package half installed.
  RecoverInterrupted();
  host_.ProcessMessages();
  BitBtn3Click(&BitBtn3);
  host_.ProcessMessages();
  if (!IndexAccepted()) return;
  if (ListBox1.Count() > 0) Button1Click(&Button1);
  host_.ProcessMessages();
  ShowSummary();
  if (outcome_ == TRunOutcome::InProgress)
    outcome_ = failedPackages_ > 0 ? TRunOutcome::PackageFailed : TRunOutcome::Completed;
  Close();
}

bool TForm1::MainExecutableFree() {
  if (base::ExclusiveOpenTest(executableFolder_ + "krevo.exe")) return true;
  base::Dialogs().MessageDlg("Could not open " + executableFolder_ +
                                 "krevo.exe for exclusive access. "
                                 "Please ensure all users are out of the system.",
                             base::TMsgDlgType::mtError, base::MakeButtons({base::mbOK}));
  outcome_ = TRunOutcome::ExclusiveAccessFailed;
  Close();
  return false;
}

base::UniqueFd TForm1::OpenRootFolder() const {
  return base::OpenFolder(FRootFolder);
}

void TForm1::RecoverInterrupted() {
  const base::UniqueFd root = OpenRootFolder();
  if (!root) return;  // no installation there, and so nothing to finish
  if (const std::optional<std::string> line = RecoverInterruptedUpdate(root.get())) {
    RunRecord.NoteRecovery(*line);
    UpdateLog.AppendLine(*line);
  }
}

void TForm1::OnRollBack() {
  if (!Timer1Enabled || closed_) return;
  Timer1Enabled = false;
  outcome_ = TRunOutcome::InProgress;
  const bool ran = application_.Guard([this] {
    if (!MainExecutableFree()) return;
    RecoverInterrupted();
    const base::UniqueFd root = OpenRootFolder();
    if (!root)
      throw ETransactionError("There is no update to roll back: the root folder " +
                              base::EscapeControlCharacters(FRootFolder) + " cannot be opened.");
    const std::string line = RollBackLastPackage(root.get());
    RunRecord.NoteRecovery(line);
    UpdateLog.AppendLine(line);
  });
  if (outcome_ == TRunOutcome::InProgress)
    outcome_ = ran ? TRunOutcome::Completed : TRunOutcome::Failed;
  Close();
}

TSourceSettings TForm1::SourceSettings() const {
  return {FConfig.Sources, FConfig.RequireTLS,      FConfig.Host,
          FConfig.Port,    trust_.ChecksPackages(), FConfig.AllowUnsignedFolder};
}

void TForm1::MakeSources() {
  if (!sources_.empty()) return;
  const std::vector<TSourceAddress> addresses = SourceAddresses(SourceSettings());
  // The copies of a folder move the download bar and count as downloaded,
  // as a server's transfers do.
  TFolderCopyEvents events;
  events.OnWorkBegin = [this](std::int64_t size) { NetFTP1WorkBegin(nullptr, ftp::wmRead, size); };
  events.OnWork = [this](std::int64_t count) { NetFTP1Work(nullptr, ftp::wmRead, count); };
  events.OnWorkEnd = [this] { NetFTP1WorkEnd(nullptr, ftp::wmRead); };
  events.StopFd = stopFd_;
  sources_ = MakePackageSources(addresses, NetFTP1, events);
}

std::string TForm1::SourceUsed() const {
  if (source_) return source_->Name();
  if (!sources_.empty()) return sources_.front()->Name();
  return FirstSourceName(SourceSettings());
}

TRunFacts TForm1::Facts() const {
  return {RunRecord,          FRootFolder, refused_, SourceUsed(), AcceptedIndexSequence(),
          FConfig.MetricsFile};
}

void TForm1::ListFrom(TPackageSource& source) {
  try {
    try {
      source.Connect();
    } catch (const std::exception& e) {
      // Shown as any other failure; the outcome tells a script that the
      // source was not there.
      if (source.IsUnreachable(e) && !StopRequested()) outcome_ = TRunOutcome::ConnectFailed;
      throw;
    }
    source.EnterUpdates();
    source.FetchListing(ListBox1);
    trust_.FetchIndex(source);
  } catch (...) {
    source.Close();
    throw;
  }
  source.Close();
}

void TForm1::BitBtn3Click(const TButton*) {
  MakeSources();
  const TRunOutcome before = outcome_;
  indexRefusal_.reset();
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    source_ = sources_[i].get();
    // The run's outcome is that of the source it ends with.
    outcome_ = before;
    if (i > 0) ListBox1.Clear();
    const bool last = i + 1 == sources_.size();
    std::string reason;
    try {
      ListFrom(*source_);
      // A source whose index cannot be accepted is no better than one that
      // cannot be reached: a stale or hostile mirror must not hide the next.
      const std::optional<TIndexRefusal> refusal = trust_.AcceptIndex(
          FRootFolder, FConfig.Channel, FConfig.RequireIndex, Clock, FLastUpdate);
      if (!refusal) break;
      if (last || !refusal->sourceAtFault) {
        indexRefusal_ = refusal->text;
        break;
      }
      reason = refusal->text;
    } catch (const std::exception& e) {
      if (last || StopRequested()) throw;
      reason = base::FailureText(e);
    }
    if (!reason.empty() && reason.back() == '.') reason.pop_back();
    const std::string note =
        "Source " + source_->Name() + " failed: " + reason + "; trying the next.";
    UpdateLog.AppendLine(note);
    host_.ShowNote(note);
    host_.ProcessMessages();
  }
}

void TForm1::ShowSummary() {
  if (FPackageCount == 0) {
    if (ListBox1.Count() == 0) return;
    const int answer = base::Dialogs().MessageDlg(
        "No new updates were available for download. Retry last updated anyway?",
        base::TMsgDlgType::mtConfirmation, base::MakeButtons({base::mbYes, base::mbNo}));
    if (answer != base::mrYes) return;
    Button1Click(nullptr);
    if (installedPackages_ != 0)
      base::Dialogs().MessageDlg("Latest update was downloaded.", base::TMsgDlgType::mtConfirmation,
                                 base::MakeButtons({base::mbOK}));
    else if (failedPackages_ != 0) {
      RunRecord.SummaryFollows();
      base::Dialogs().MessageDlg(FailedSummary(0, failedPackages_, FReplacedCount),
                                 base::TMsgDlgType::mtError, base::MakeButtons({base::mbOK}));
    }
    return;
  }
  // The counts are of packages really installed and files really replaced;
  // a failure is said, so that it cannot be read as success.
  if (failedPackages_ == 0) {
    base::Dialogs().MessageDlg(DownloadedSummary(installedPackages_, FReplacedCount),
                               base::TMsgDlgType::mtInformation, base::MakeButtons({base::mbOK}));
    return;
  }
  RunRecord.SummaryFollows();  // the failures it counts were noted one by one
  base::Dialogs().MessageDlg(
      FailedSummary(installedPackages_, failedPackages_, FReplacedCount),
      installedPackages_ ? base::TMsgDlgType::mtWarning : base::TMsgDlgType::mtError,
      base::MakeButtons({base::mbOK}));
}

void TForm1::OnTimer1() {
  if (!Timer1Enabled || closed_) return;
  outcome_ = TRunOutcome::InProgress;
  bool bounded = false;
  const bool ran = application_.Guard([this, &bounded] {
    ArmDeadline();
    try {
      Timer1Timer();
    } catch (const ESourceGivenUp& e) {
      bounded = true;
      EndPastBound(e.what());
    } catch (const std::exception&) {
      // Whatever the stop broke off is no error to show: an error dialog
      // would hold the window that was told to close.
      if (!StopRequested()) throw;
      if (HostStopRequested() || !deadline_.Passed()) {
        stopped_ = true;
        return;
      }
      bounded = true;
      EndPastBound("The run was ended after " + std::to_string(deadline_.Seconds()) +
                   " seconds, the limit that RunTimeout in the [Updater] section of "
                   "config.ini sets; what it had not finished is left for the next run.");
    }
  });
  if (stopped_ || (!ran && outcome_ != TRunOutcome::ConnectFailed)) outcome_ = TRunOutcome::Failed;
  if (!bounded && outcome_ == TRunOutcome::InProgress) outcome_ = TRunOutcome::Completed;
  // The close command that stopped the run is honoured now that it is over.
  if (stopped_) Close();
}

void TForm1::Close() {
  if (closed_) return;
  closed_ = true;
  // A footer that cannot be written is shown, and the window closes all the same.
  application_.Guard([this] { FormClose(); });
  host_.Terminate();
}

}  // namespace krevo::app
