// The stop of a run in progress: the descriptor the host's close signals make
// readable, watched by the FTP client's waits and checked by the extraction.
#include <poll.h>

#include "app/run/TForm1.h"
#include "base/Dialogs.h"
#include "base/Errors.h"

namespace krevo::app {

namespace {

bool Readable(int fd) {
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

}  // namespace

void TForm1::SetStopDescriptor(int fd) {
  stopFd_ = hostStopFd_ = fd;
  NetFTP1.AbortDescriptor = fd;
}

bool TForm1::StopRequested() const {
  return Readable(stopFd_);
}

bool TForm1::HostStopRequested() const {
  return Readable(hostStopFd_);
}

void TForm1::ArmDeadline() {
  // A deadline is a stop that comes by itself: the same descriptor carries
  // both to every wait, and only what the run says at its end differs.
  deadline_.Arm(FConfig.RunTimeout, hostStopFd_);
  stopFd_ = deadline_.Descriptor();
  NetFTP1.AbortDescriptor = stopFd_;
}

void TForm1::EndPastBound(const std::string& text) {
  // Said as a package failure is, so that it is the run's message, and the
  // exit status tells a run that installed something from one that did not.
  UpdateLog.AppendLine(text);
  RunRecord.NoteEndedByBound();
  base::Dialogs().MessageDlg(text, base::TMsgDlgType::mtError, base::MakeButtons({base::mbOK}));
  outcome_ = installedPackages_ > 0 ? TRunOutcome::PackageFailed : TRunOutcome::Failed;
}

void TForm1::Archiver1FileProgress(archive::TZipBaseArchiver*, const std::string&, double,
                                   archive::TZipProcessOperation, archive::TZipProgressPhase,
                                   bool& Cancel) {
  // Cancelling is the component's own way to stop: the entry being written is
  // never put in place, the files already replaced stay replaced.
  if (StopRequested()) Cancel = true;
}

void TForm1::Archiver1OverallProgress(archive::TZipBaseArchiver*, double,
                                      archive::TZipProcessOperation,
                                      archive::TZipProgressPhase ProgressPhase, bool&) {
  // A cancelled batch returns normally; its package must not then be marked
  // complete. The batch's end is reported after its clean-up, so raising here
  // leaves the component sound.
  if (ProgressPhase == archive::ppEnd && StopRequested()) throw base::EAbort();
}

}  // namespace krevo::app
