// The components' events: the work events move the download bar; the
// extraction events log and decide each replacement.
#include "app/install/OverwritePolicy.h"
#include "app/run/TForm1.h"
#include "base/Errors.h"
#include "base/FileSystem.h"

namespace krevo::app {

void TForm1::NetFTP1WorkBegin(ftp::TNetComponent*, ftp::TWorkMode AWorkMode, std::int64_t) {
  if (AWorkMode == ftp::wmRead) RunRecord.WorkBegin();
  ProgressBar1.SetPosition(0);
}

void TForm1::NetFTP1Work(ftp::TNetComponent*, ftp::TWorkMode AWorkMode, std::int64_t AWorkCount) {
  if (AWorkMode == ftp::wmRead) RunRecord.Work(AWorkCount);
  ProgressBar1.SetPosition(AWorkCount);
}

void TForm1::NetFTP1WorkEnd(ftp::TNetComponent*, ftp::TWorkMode) {
  ProgressBar1.SetPosition(ProgressBar1.Max());
}

void TForm1::Archiver1ExtractFile(archive::TZipBaseArchiver*, std::string& FileName, std::uint32_t&,
                                  const std::string&) {
  ProgressBar2.SetPosition(ProgressBar2.Position() + 1);
  replacePending_ = false;
  // The line goes to the log once the package is in place; a log that
  // cannot take it stops the extraction now, as a failed write would.
  if (!UpdateLog.IsOpen()) throw base::EInOutError(105);
  packageLog_.push_back(FileName + " > " + FRootFolder + FileName);
}

void TForm1::Archiver1ConfirmOverwrite(archive::TZipBaseArchiver*,
                                       const std::string& SourceFileName, std::string& DestFileName,
                                       bool& Confirm) {
  std::optional<std::uint32_t> archiveDate;
  archive::TZipArchiveItem item;
  // Everything but folders.
  if (Archiver1.FindFirstEntry(SourceFileName, item, base::faAnyFileButFolder, ""))
    archiveDate = static_cast<std::uint32_t>(item.DosDate) << 16 | item.DosTime;
  const std::optional<std::uint32_t> fileDate = base::FindFileDate(DestFileName, base::faAnyFile);
  Confirm = PackagedCopyIsNewer(archiveDate, fileDate);
  // Counted once the new copy is in place: a replacement that fails is none.
  replacePending_ = Confirm;
}

}  // namespace krevo::app
