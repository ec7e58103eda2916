// The stop of a run in progress: the descriptor the host's close signals make
// readable, watched by the FTP client's waits and checked by the extraction.
#include <poll.h>

#include "app/run/TForm1.h"
#include "base/Errors.h"

namespace krevo::app {

void TForm1::SetStopDescriptor(int fd) {
  stopFd_ = fd;
  NetFTP1.AbortDescriptor = fd;
}

bool TForm1::StopRequested() const {
  if (stopFd_ < 0) return false;
  pollfd p{stopFd_, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
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
