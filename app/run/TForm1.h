#pragma once
// The main window's logic: its components' state, its private fields and its
// handlers. The host (window toolkit or console) shows the state and calls the
// handlers; this class never touches a widget.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/config/UpdaterConfig.h"
#include "app/install/UpdaterArchiver.h"
#include "app/report/FinishedRun.h"
#include "app/report/RunRecord.h"
#include "app/report/UpdateLog.h"
#include "app/run/Application.h"
#include "app/run/FormHost.h"
#include "app/run/ProgressBar.h"
#include "app/run/RunDeadline.h"
#include "app/run/RunOutcome.h"
#include "app/sources/PackageListing.h"
#include "app/sources/PackageSource.h"
#include "app/sources/PackageSources.h"
#include "app/sources/RetryBudget.h"
#include "app/sources/StagingFolder.h"
#include "app/trust/PackageTrust.h"
#include "base/Blake2b512.h"
#include "base/DateTime.h"
#include "base/FileDescriptor.h"
#include "base/StringList.h"
#include "ftp/NetFTP.h"

namespace krevo::app {

inline constexpr const char* kFormCaption = "Krevo System Automatic Updates";
inline constexpr const char* kHeading = "Krevo System Automatic Updates   ";

// A hidden button: the run calls its click handler with it as the sender.
struct TButton {
  const char* Caption;
};

class TForm1 final {
 public:
  // `host` and `application` are borrowed and must outlive the form.
  // `executableFolder` ends in '/': config.ini and krevo.exe are looked up there.
  TForm1(TFormHost& host, TApplication& application, std::string executableFolder);
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Components the host shows.
  base::TStringList ListBox1;   // the packages found on the server
  TProgressBar ProgressBar1;    // download progress of the current package
  TProgressBar ProgressBar2;    // install progress of the current package
  std::string Label5;           // "Version : " + version
  bool Timer1Enabled = true;    // the one-shot start timer, armed at creation
  bool IgnorePhasing = false;   // take every package at once (--ignore-phasing)
  TButton BitBtn3{"TestFTP"};   // hidden: its click is the listing step
  TButton Button1{"Download"};  // hidden: its click is the download run
  ftp::TNetFTP NetFTP1;         // the connection to the update server
  TUpdaterArchiver Archiver1;   // opens and extracts the downloaded packages

  // Reads config.ini, shows the version, derives the root folder and opens the
  // update log with its "Scan started " line. Throws what the log throws
  // (EInOutError); the steps after the failing one are skipped. Run as root,
  // it first checks that only root can change the executable folder,
  // config.ini, the root folder, the key file and the CA file
  // (CheckOnlyRootCanChange); one that another user may change throws
  // EUnsafePath: the run will not start (outcome Failed) and no log is
  // written, not even at the close.
  void FormCreate();
  // Writes the log footer and closes the log; unless the run reached its end
  // with every package installed, and installed one at least, the log keeps
  // its previous date: a listing that left a package out must not make it
  // look old for good. Throws EInOutError.
  void FormClose();
  // The update run, started once by the timer: the package keys (a malformed
  // one throws base::ESignatureError before anything else is done), the
  // exclusive-access test, an interrupted installation finished
  // (RecoverInterrupted), the listing step, the package index accepted (a
  // refused one ends the run there, outcome PackageFailed), the download run,
  // the summary and the close. Throws what the steps throw; the window then stays open.
  void Timer1Timer();
  // The listing step: the packages of the first source that can be reached,
  // listed into ListBox1 (FetchListing: a server that does not expand
  // "up*.zip" is asked for its whole folder), and whose package index is
  // accepted (FetchIndex, AcceptIndex); that source serves the whole run. A
  // source that fails to connect, log in, list or fetch its index, or whose
  // index is refused (missing where one is expected, expired, older than the
  // one accepted, of another channel, badly signed), is closed, said in the
  // log and by the host's ShowNote, and the next one is tried; the last one's
  // index refusal, or one that this installation's index state causes, is
  // kept for IndexAccepted; the last one's failure is
  // thrown on (ENetException family, EPackageSourceError), and makes the
  // outcome ConnectFailed when that source could not be reached. A login
  // refused for want of encryption carries the advice to turn it on
  // (WithEncryptionAdvice). A stop is thrown on at once. The source is
  // closed whatever happens. Throws ESourceError as MakeSources does.
  void BitBtn3Click(const TButton* Sender);
  // The download run, from the source the listing step used (the first one
  // when there was none). Sender &Button1: every line, packages newer than the last
  // update (with a package index: its packages not installed yet with its
  // hash, whatever their dates, each checked against the index's size and hash instead of a
  // .minisig); any other sender: the last line, whatever its date. A line whose
  // name is no package name is passed over. A failed connection is shown and
  // ends the call normally; so does a package that fails (a name that cannot
  // be a local file, a retrieval the server refuses, more bytes than listed,
  // a download that broke off more often than FConfig.Retries allows,
  // damaged, an entry not installed, too little space), which is shown,
  // marked " ... failed" and makes the run's outcome PackageFailed; the next
  // package is still tried (on a new session when the last one was lost).
  // Its downloaded copy is removed unless it was cut short. With a package
  // key, a package whose NAME.minisig is missing or does not verify is not
  // opened: it is shown and marked " ... not signed" or " ... bad signature",
  // and the outcome is PackageFailed too. Any other failure throws.
  void Button1Click(const TButton* Sender);

  // The components' events.
  void NetFTP1WorkBegin(ftp::TNetComponent* Sender, ftp::TWorkMode AWorkMode,
                        std::int64_t AWorkCountMax);
  void NetFTP1Work(ftp::TNetComponent* Sender, ftp::TWorkMode AWorkMode, std::int64_t AWorkCount);
  void NetFTP1WorkEnd(ftp::TNetComponent* Sender, ftp::TWorkMode AWorkMode);
  // Keeps the log line of every file the extraction comes to, for the log
  // once the package is in place. Throws EInOutError 105 when the log is not
  // open, which ends the extraction.
  void Archiver1ExtractFile(archive::TZipBaseArchiver* Sender, std::string& FileName,
                            std::uint32_t& FileAttr, const std::string& Comment);
  // The overwrite policy: Confirm only when the packaged copy is newer than the
  // installed file. Throws EConvertError for an impossible date.
  void Archiver1ConfirmOverwrite(archive::TZipBaseArchiver* Sender,
                                 const std::string& SourceFileName, std::string& DestFileName,
                                 bool& Confirm);

  // The stop of a run in progress: the extraction stops at the next entry or
  // chunk (the entry being written is abandoned; the batch then raises
  // base::EAbort), and nothing is counted as installed.
  void Archiver1FileProgress(archive::TZipBaseArchiver* Sender, const std::string& FileName,
                             double Progress, archive::TZipProcessOperation Operation,
                             archive::TZipProgressPhase ProgressPhase, bool& Cancel);
  void Archiver1OverallProgress(archive::TZipBaseArchiver* Sender, double Progress,
                                archive::TZipProcessOperation Operation,
                                archive::TZipProgressPhase ProgressPhase, bool& Cancel);

  // The rollback run, instead of the timer's: the exclusive-access test, an
  // interrupted installation finished, then the last package rolled back
  // (RollBackLastPackage) with its line in the log, and the close. The log
  // keeps its date, so that package is not offered again. An error (there is
  // nothing to roll back, for one) is shown by the default error display and
  // fails the run.
  void OnRollBack();
  // The timer has gone off: runs Timer1Timer under the default error display,
  // its time bounded by FConfig.RunTimeout from here (the deadline ends
  // every wait as a stop does). An error ends the run (outcome Failed, or
  // ConnectFailed when the server could not be reached) and leaves the window
  // open. A run that a stop ended is failed too, shows no error and closes
  // the window. A run past a bound (the deadline, or its source given up for
  // failing too many packages in a row: ESourceGivenUp) shows and logs why
  // and ends Failed, or PackageFailed when it installed a package before;
  // the window stays open.
  void OnTimer1();
  // Closes the window once: FormClose (an error it throws is shown, and the close
  // goes on), then the host's Terminate.
  void Close();

  // `fd` (borrowed, -1: none) becomes readable, and stays so, once the run
  // must stop (the host's close signals). NetFTP1's waits watch it too, and
  // once the run starts, the run's deadline with it.
  void SetStopDescriptor(int fd);
  // Whether the run must stop: a stop was asked for, or its time is up.
  bool StopRequested() const;
  // Whether the run ended because of a stop.
  bool Stopped() const { return stopped_; }

  bool RunInProgress() const { return outcome_ == TRunOutcome::InProgress; }
  // Whether FormCreate refused a path that others may change.
  bool Refused() const { return refused_; }
  TRunOutcome Outcome() const { return outcome_; }
  bool Closed() const { return closed_; }
  const std::string& ExecutableFolder() const { return executableFolder_; }
  // The source the run used, or tried last, as the status file names it; the
  // first configured one before any was tried.
  std::string SourceUsed() const;
  // The sequence of the package index this run accepted; nothing when it
  // accepted none.
  std::optional<std::uint64_t> AcceptedIndexSequence() const;
  // What the status file, the metrics and the journal are made of once the
  // run is over; borrows RunRecord.
  TRunFacts Facts() const;

  // Private state of the window.
  base::TDateTime FLastUpdate = 0;
  std::int32_t FPackageCount = 0;
  std::int32_t FExtractedCount = 0;
  std::int32_t FReplacedCount = 0;
  std::string FRootFolder;
  TUpdaterConfig FConfig;
  TUpdateLog UpdateLog;
  // What the run did, for the status file, the metrics and the journal.
  TRunRecord RunRecord;

  // The clock of the log stamps.
  std::function<base::TDateTime()> Clock = base::Now;

 private:
  void ShowSummary();
  // Shows the refusal and closes when krevo.exe cannot be opened for
  // exclusive access (the outcome ExclusiveAccessFailed).
  bool MainExecutableFree();
  // The root folder, opened; empty when it cannot be.
  base::UniqueFd OpenRootFolder() const;
  // Finishes an installation that a killed run or a power cut interrupted,
  // its line in the log. Throws ETransactionError.
  void RecoverInterrupted();
  // Removes the temporary files that a killed run left while it replaced the
  // status file, the index state or the metrics file.
  void RemoveLeftovers() const;
  // Throws EUnsafePath, after disarming the run, when run as root and one of
  // `paths` (an empty one is passed over) may be changed by another user.
  void RefuseUnsafePaths(std::initializer_list<std::string> paths);
  // How one package's turn ended: its list line's ending, whether it was
  // installed, and whether its downloaded copy stays.
  struct TPackageEnd {
    const char* ending;
    bool installed;
    bool keepCopy;
    // The hash of the bytes installed, when the download took one.
    std::optional<base::TBlake2b512::Digest> digest = std::nullopt;
  };
  void InstallPackage(int index, const TListedPackage& package);
  TPackageEnd FetchAndInstall(const TListedPackage& package);
  // The sources from FConfig, once: Sources, or the one server of Host, Port
  // and Security. Throws ESourceError for a malformed Sources, and for a
  // folder among them when there is no package key and AllowUnsignedFolder
  // is not set.
  void MakeSources();
  // What chooses the sources, from FConfig and the package keys.
  TSourceSettings SourceSettings() const;
  // Connects to `source`, enters its packages' folder and lists them into
  // ListBox1; closes it again when that fails, and throws on.
  void ListFrom(TPackageSource& source);
  // Installs the downloaded `copy` (PackageInstall): the install bar moved
  // and, once the package is in place, its log lines and counts added; a
  // failure is shown. Returns whether it was installed.
  bool ExtractPackage(const std::string& name, std::unique_ptr<base::TStream> copy,
                      const std::string& copyPath);
  void ShowPackageFailure(const std::string& text);
  // The health check of `name` just put in place (TForm1Check.cpp), the
  // machine's own (FConfig.HealthCheck); true when there is none. PassesCheck
  // runs the check `path` with `args` (RunHealthCheck). A check that fails
  // has the package rolled back at once (RollBackLastPackage), said in the
  // log, the record and a dialog, and marked bad (with the index's hash, or
  // `digest`, null: not known): false. Throws base::EAbort when the run's
  // stop came first, ETransactionError when the rollback fails.
  bool PassesHealthCheck(const std::string& name, const base::TBlake2b512::Digest* digest);
  bool PassesCheck(const std::string& name, const base::TBlake2b512::Digest* digest,
                   const std::string& path, const std::vector<std::string>& args);
  // Whether the host asked for the stop (not the deadline).
  bool HostStopRequested() const;
  // Starts the run's clock: every wait watches the deadline from then on.
  void ArmDeadline();
  // The run went past a bound: `text` shown and logged, the outcome set.
  void EndPastBound(const std::string& text);

  // The package index (TForm1Index.cpp), fetched and accepted in the
  // listing step: IndexAccepted logs it and its offers (the list becomes the
  // index's packages) or refuses the run with indexRefusal_: the reason shown
  // and logged, the outcome PackageFailed and the window closed.
  bool IndexAccepted();
  bool RefuseIndex(const std::string& reason);  // returns false

  TFormHost& host_;
  TApplication& application_;
  std::string executableFolder_;
  TRunOutcome outcome_ = TRunOutcome::NotStarted;
  bool closed_ = false;
  bool refused_ = false;  // FormCreate found a path that others may change
  int stopFd_ = -1;       // what every wait watches: the host's stop, then the deadline too
  int hostStopFd_ = -1;   // the host's stop alone
  bool stopped_ = false;
  TRunDeadline deadline_;
  // Packages in a row that failed for reasons that may pass.
  TRetryBudget retryBudget_;
  // Made at the first download, kept for the life of the window.
  std::unique_ptr<TStagingFolder> staging_;
  int failedPackages_ = 0;       // packages of this run that were not installed whole
  int installedPackages_ = 0;    // packages of this run installed whole
  bool replacePending_ = false;  // the overwrite policy let the current entry replace a file
  // The current package's log lines and counts, until it is in place.
  std::vector<std::string> packageLog_;
  std::int32_t packageExtracted_ = 0;
  std::int32_t packageReplaced_ = 0;
  // The package keys, read when the run starts, and the package index.
  TPackageTrust trust_;
  // The sources to try, in order, and the one in use (or tried last).
  std::vector<std::unique_ptr<TPackageSource>> sources_;
  TPackageSource* source_ = nullptr;
  // Why the listing step accepted no package index; nothing when it did, or
  // when none was expected.
  std::optional<std::string> indexRefusal_;
};

}  // namespace krevo::app
