#include "app/TForm1.h"

#include "base/Dialogs.h"
#include "base/FileSystem.h"
#include "base/Version.h"

namespace krevo::app {

TForm1::TForm1(TFormHost& host, TApplication& application, std::string executableFolder)
    : host_(host), application_(application), executableFolder_(std::move(executableFolder)) {}

void TForm1::FormCreate() {
  FLastUpdate = 0;
  FReplacedCount = 0;
  FConfig = ReadUpdaterConfig(executableFolder_);
  Label5 = "Version : " + base::OwnFileVersion();
  FRootFolder = DeriveRootFolder(FConfig.DocumentsRoot, FConfig.ReportsRoot);
  FLastUpdate = UpdateLog.Open(FRootFolder, Clock());
}

void TForm1::FormClose() {
  // Only a run that reached its end moves the date of the last update; after a
  // failed run the packages it did not install must still look new.
  UpdateLog.Close(FExtractedCount, Clock(), outcome_ != TRunOutcome::Completed);
}

void TForm1::Timer1Timer() {
  Timer1Enabled = false;
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
  outcome_ = TRunOutcome::Completed;
  Close();
}

void TForm1::OnTimer1() {
  if (!Timer1Enabled || closed_) return;
  outcome_ = TRunOutcome::InProgress;
  if (!application_.Guard([this] { Timer1Timer(); })) outcome_ = TRunOutcome::Failed;
  if (outcome_ == TRunOutcome::InProgress) outcome_ = TRunOutcome::Completed;
}

void TForm1::Close() {
  if (closed_) return;
  closed_ = true;
  // A footer that cannot be written is shown, and the window closes all the same.
  application_.Guard([this] { FormClose(); });
  host_.Terminate();
}

}  // namespace krevo::app
