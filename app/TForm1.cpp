#include "app/TForm1.h"

#include "app/EncryptionRefusal.h"
#include "app/PackageListingFetch.h"
#include "app/PackageSignature.h"
#include "app/RunSummary.h"
#include "base/Dialogs.h"
#include "base/FileSystem.h"
#include "base/Version.h"
#include "ftp/NetUnreachable.h"

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
  // The footer counts the files really installed, so they are counted once
  // they are, not when the extraction comes to them.
  Archiver1.OnEntryInstalled = [this](TUpdaterArchiver*, const std::string&) { ++FExtractedCount; };
}

void TForm1::FormCreate() {
  FLastUpdate = 0;
  FReplacedCount = 0;
  FConfig = ReadUpdaterConfig(executableFolder_);
  NetFTP1.SetHost(FConfig.Host);
  NetFTP1.SetPort(FConfig.Port);
  // A silent server, or one that stalls half way, must not hold an unattended
  // run for ever: the connects and every wait on both connections are bounded.
  NetFTP1.ReadTimeout = FConfig.ReadTimeout * 1000;
  NetFTP1.ConnectTimeout = FConfig.ReadTimeout * 1000;
  NetFTP1.Security = FConfig.RequireTLS ? ftp::fsTLS : ftp::fsNone;
  NetFTP1.CAFile = FConfig.CAFile;
  Label5 = "Version : " + base::OwnFileVersion();
  FRootFolder = DeriveRootFolder(FConfig.DocumentsRoot, FConfig.ReportsRoot);
  FLastUpdate = UpdateLog.Open(FRootFolder, Clock());
}

void TForm1::FormClose() {
  // Only a run that reached its end with every entry installed moves the date
  // of the last update; after a failed run the packages it did not install
  // must still look new.
  const bool failed = outcome_ != TRunOutcome::Completed;
  UpdateLog.Close(FExtractedCount, Clock(), failed);
}

void TForm1::Timer1Timer() {
  Timer1Enabled = false;
  if (outcome_ == TRunOutcome::NotStarted) outcome_ = TRunOutcome::InProgress;
  // A key that cannot be read must not turn into a run that installs
  // unchecked packages: the error ends the run before anything is contacted.
  packageKey_ = LoadPackageKey(FConfig, executableFolder_);
  const std::string mainExecutable = executableFolder_ + "krevo.exe";
  if (!base::ExclusiveOpenTest(mainExecutable)) {
    base::Dialogs().MessageDlg("Could not open " + executableFolder_ +
                                   "krevo.exe for exclusive access. "
                                   "Please ensure all users are out of the system.",
                               base::TMsgDlgType::mtError, base::MakeButtons({base::mbOK}));
    outcome_ = TRunOutcome::ExclusiveAccessFailed;
    Close();
    return;
  }
  host_.ProcessMessages();
  BitBtn3Click(&BitBtn3);
  host_.ProcessMessages();
  if (ListBox1.Count() > 0) Button1Click(&Button1);
  host_.ProcessMessages();
  ShowSummary();
  if (outcome_ == TRunOutcome::InProgress)
    outcome_ = failedPackages_ > 0 ? TRunOutcome::PackageFailed : TRunOutcome::Completed;
  Close();
}

void TForm1::BitBtn3Click(const TButton*) {
  try {
    try {
      NetFTP1.OpenSession(true, -1);
    } catch (const ftp::ENetProtocolReplyError& e) {
      if (DemandsEncryption(e)) throw WithEncryptionAdvice(e);
      throw;
    } catch (const std::exception& e) {
      // Shown as any other failure; the outcome tells a script that the
      // server was not there.
      if (ftp::IsUnreachable(e, NetFTP1.ReachedLogin()) && !StopRequested())
        outcome_ = TRunOutcome::ConnectFailed;
      throw;
    }
    NetFTP1.EnterDirectory("krevo");
    NetFTP1.EnterDirectory("updates");
    FetchPackageListing(NetFTP1, ListBox1);
  } catch (...) {
    NetFTP1.CloseSession();
    throw;
  }
  NetFTP1.CloseSession();
}

void TForm1::ShowSummary() {
  if (FPackageCount == 0) {
    if (ListBox1.Count() == 0) return;
    const int answer = base::Dialogs().MessageDlg(
        "No new updates were available for download. Retry last updated anyway?",
        base::TMsgDlgType::mtConfirmation, base::MakeButtons({base::mbYes, base::mbNo}));
    if (answer != base::mrYes) return;
    Button1Click(nullptr);
    if (FPackageCount != 0)
      base::Dialogs().MessageDlg("Latest update was downloaded.", base::TMsgDlgType::mtConfirmation,
                                 base::MakeButtons({base::mbOK}));
    return;
  }
  base::Dialogs().MessageDlg(DownloadedSummary(FPackageCount, FReplacedCount),
                             base::TMsgDlgType::mtInformation, base::MakeButtons({base::mbOK}));
}

void TForm1::OnTimer1() {
  if (!Timer1Enabled || closed_) return;
  outcome_ = TRunOutcome::InProgress;
  const bool ran = application_.Guard([this] {
    try {
      Timer1Timer();
    } catch (const std::exception&) {
      // Whatever the stop broke off is no error to show: an error dialog
      // would hold the window that was told to close.
      if (!StopRequested()) throw;
      stopped_ = true;
    }
  });
  if (stopped_ || (!ran && outcome_ != TRunOutcome::ConnectFailed)) outcome_ = TRunOutcome::Failed;
  if (outcome_ == TRunOutcome::InProgress) outcome_ = TRunOutcome::Completed;
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
