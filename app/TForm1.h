#pragma once
// The main window's logic: its components' state, its private fields and its
// handlers. The host (window toolkit or console) shows the state and calls the
// handlers; this class never touches a widget.
#include <cstdint>
#include <functional>
#include <string>

#include "app/Application.h"
#include "app/FormHost.h"
#include "app/ProgressBar.h"
#include "app/UpdateLog.h"
#include "app/UpdaterConfig.h"
#include "base/DateTime.h"
#include "base/StringList.h"

namespace krevo::app {

inline constexpr const char* kFormCaption = "Krevo System Automatic Updates";
inline constexpr const char* kHeading = "Krevo System Automatic Updates   ";

// How the update run ended, for the console's exit status.
enum class TRunOutcome { NotStarted, InProgress, Completed, ExclusiveAccessFailed, ConnectFailed, Failed };

class TForm1 {
 public:
  // `host` and `application` are borrowed and must outlive the form.
  // `executableFolder` ends in '/': config.ini and krevo.exe are looked up there.
  TForm1(TFormHost& host, TApplication& application, std::string executableFolder);
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;
  virtual ~TForm1() = default;

  // Components the host shows.
  base::TStringList ListBox1;  // the packages found on the server
  TProgressBar ProgressBar1;   // download progress of the current package
  TProgressBar ProgressBar2;   // install progress of the current package
  std::string Label5;          // "Version : " + version
  bool Timer1Enabled = true;   // the one-shot start timer, armed at creation

  // Reads config.ini, shows the version, derives the root folder and opens the
  // update log with its "Scan started " line. Throws what the log throws
  // (EInOutError); the steps after the failing one are skipped.
  void FormCreate();
  // Writes the log footer and closes the log; unless the run reached its end,
  // the log keeps its previous date. Throws EInOutError.
  void FormClose();
  // The update run, started once by the timer. Throws what the run's steps throw.
  void Timer1Timer();

  // The timer has gone off: runs Timer1Timer under the default error display.
  // An error ends the run (outcome Failed) and leaves the window open.
  void OnTimer1();
  // Closes the window once: FormClose (an error it throws is shown, and the close
  // goes on), then the host's Terminate.
  void Close();

  bool RunInProgress() const { return outcome_ == TRunOutcome::InProgress; }
  TRunOutcome Outcome() const { return outcome_; }
  bool Closed() const { return closed_; }
  const std::string& ExecutableFolder() const { return executableFolder_; }

  // Private state of the window.
  base::TDateTime FLastUpdate = 0;
  std::int32_t FPackageCount = 0;
  std::int32_t FExtractedCount = 0;
  std::int32_t FReplacedCount = 0;
  std::string FRootFolder;
  TUpdaterConfig FConfig;
  TUpdateLog UpdateLog;

  // The clock of the log stamps.
  std::function<base::TDateTime()> Clock = base::Now;

 protected:
  TFormHost& host_;
  TApplication& application_;

 private:
  std::string executableFolder_;
  TRunOutcome outcome_ = TRunOutcome::NotStarted;
  bool closed_ = false;
};

}  // namespace krevo::app
