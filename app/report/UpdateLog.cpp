#include "app/report/UpdateLog.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "base/ControlEscape.h"
#include "base/Errors.h"

namespace krevo::app {

std::string TUpdateLog::PathFor(const std::string& rootFolder) {
  return rootFolder + "updates.log";
}

std::string TUpdateLog::CountLine(int extractedCount) {
  if (extractedCount == 0) return "No files were updated.";
  if (extractedCount == 1) return "1 file updated.";
  return std::to_string(extractedCount) + " files updated.";
}

base::TDateTime TUpdateLog::Open(const std::string& rootFolder, base::TDateTime now) {
  const std::string path = PathFor(rootFolder);
  path_ = path;
  base::TDateTime lastUpdate = 0;
  // An existing log is always appended to, even when its date cannot be held
  // as a DOS date-time: emptying it would lose the record of every earlier run.
  // Whatever has the name, a link too, is not made anew; the opens follow no
  // link, and the date is the open file's own.
  struct stat st;
  created_ = ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
  if (!created_) {
    file_.Append(path);
    if (::fstat(file_.Handle(), &st) != 0 || !S_ISREG(st.st_mode)) {
      file_.Close();
      throw base::EInOutError(5);
    }
    previousSeconds_ = st.st_mtim.tv_sec;
    previousNanoseconds_ = st.st_mtim.tv_nsec;
    std::uint32_t dos;
    if (base::TimeTToDosDateTime(st.st_mtime, dos)) lastUpdate = base::DosDateTimeToDateTime(dos);
  } else {
    file_.Rewrite(path);
    file_.WriteLine("krevo system updates log.");
    file_.WriteLine(
        "Do not delete this file, unless you want all online updates to be re-downloaded.");
  }
  file_.WriteLine("Scan started " + base::LogStamp(now));
  RestoreDate();
  return lastUpdate;
}

void TUpdateLog::AppendLine(const std::string& line) {
  file_.WriteLine(base::EscapeControlCharacters(line));
  RestoreDate();
}

void TUpdateLog::Close(int extractedCount, base::TDateTime now, bool keepPreviousDate) {
  // Closes and, when asked, restores the date on every way out.
  struct Closer {
    TUpdateLog& log;
    bool restore;
    ~Closer() {
      if (log.file_.IsOpen()) try {
          log.file_.Close();
        } catch (...) {
        }
      if (restore) log.RestoreDate();
    }
  } closer{*this, keepPreviousDate && file_.IsOpen()};
  file_.WriteLine("Scan finished " + base::LogStamp(now));
  file_.WriteLine(CountLine(extractedCount));
  file_.WriteLine(std::string(70, '='));
  file_.Close();
}

void TUpdateLog::RestoreDate() const {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  if (created_) {
    times[1].tv_sec = base::DateTimeToTimeT(base::EncodeDate(2000, 1, 1));
    times[1].tv_nsec = 0;
  } else {
    times[1].tv_sec = static_cast<time_t>(previousSeconds_);
    times[1].tv_nsec = previousNanoseconds_;
  }
  ::utimensat(AT_FDCWD, path_.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

}  // namespace krevo::app
