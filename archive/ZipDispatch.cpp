// The event dispatchers of TZipBaseArchiver and the default dialogs of the
// requests that must be answered. Names keep the build's '/' separators.
#include "archive/ZipBaseArchiver.h"
#include "base/Dialogs.h"

namespace krevo::archive {

void TZipBaseArchiver::NotifyOverallProgress(TZipProcessOperation op, TZipProgressPhase phase,
                                             bool& cancel, double progress) {
  if (OnOverallProgress) OnOverallProgress(this, progress, op, phase, cancel);
}

void TZipBaseArchiver::NotifyFileProgress(const std::string& fileName, TZipProcessOperation op,
                                          bool& cancel, TZipProgressPhase phase, double progress) {
  if (OnFileProgress) OnFileProgress(this, fileName, progress, op, phase, cancel);
}

void TZipBaseArchiver::NotifyCopyTempFileProgress(TZipProgressPhase phase, bool& cancel,
                                                  double progress) {
  if (OnCopyTempFileProgress) OnCopyTempFileProgress(this, progress, phase, cancel);
}

void TZipBaseArchiver::AskOverwrite(const std::string& source, std::string& dest, bool& confirm) {
  if (OnConfirmOverwrite) return OnConfirmOverwrite(this, source, dest, confirm);
  using namespace base;
  int r = Dialogs().MessageDlg("Overwrite file \"" + dest + "\" with \"" + source + "\"",
                               TMsgDlgType::mtConfirmation,
                               MakeButtons({mbYes, mbNo, mbNoToAll, mbYesToAll}));
  confirm = r == mrYes || r == mrYesToAll;
  if (r == mrNoToAll) Options.OverwriteMode = omNever;
  if (r == mrYesToAll) Options.OverwriteMode = omAlways;
}

void TZipBaseArchiver::AskProcessFile(const std::string& fileName, TZipProcessOperation op,
                                      bool& confirm) {
  if (OnConfirmProcessFile) OnConfirmProcessFile(this, fileName, op, confirm);
}

void TZipBaseArchiver::AskPassword(const std::string& fileName, std::string& password,
                                   bool& skip) {
  if (OnPassword) return OnPassword(this, fileName, password, skip);
  std::string value = password;
  if (base::Dialogs().InputQuery("Password for \"" + fileName + "\"", "Enter password: ", value))
    password = value;
  else
    skip = true;
}

void TZipBaseArchiver::HandleFileFailure(const std::string& fileName, TZipProcessOperation op,
                                         int nativeError, int errorCode,
                                         const std::string& message, TZipAction& action) {
  if (OnProcessFileFailure)
    return OnProcessFileFailure(this, fileName, op, nativeError, errorCode, message, action);
  using namespace base;
  if (nativeError == 45) {
    action = fxaAbort;
    return;
  }
  int r = nativeError == 61
              ? Dialogs().MessageDlg(message, TMsgDlgType::mtConfirmation,
                                     MakeButtons({mbAbort, mbIgnore}))
              : Dialogs().MessageDlg(message + ". File processing error, possibly disk is full",
                                     TMsgDlgType::mtConfirmation,
                                     MakeButtons({mbAbort, mbRetry, mbIgnore}));
  action = r == mrRetry ? fxaRetry : r == mrIgnore ? fxaIgnore : fxaAbort;
}

void TZipBaseArchiver::NotifyExtractFile(std::string& fileName, std::uint32_t& attributes,
                                         const std::string& comment) {
  if (OnExtractFile) OnExtractFile(this, fileName, attributes, comment);
}

}  // namespace krevo::archive
