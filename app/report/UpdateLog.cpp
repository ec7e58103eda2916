#include "app/report/UpdateLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <optional>

#include "base/AtomicFile.h"
#include "base/ControlEscape.h"
#include "base/Errors.h"
#include "base/FileSystem.h"

namespace krevo::app {
namespace {

constexpr std::string_view kRecordHeader = "krevo-log-date 1\n";
constexpr std::size_t kRecordMaxBytes = 128;

struct TLogDate {
  long long seconds = 0;
  long nanoseconds = 0;
};

// The date in a record as WriteDateRecord writes it: the header, then the
// seconds and nanoseconds on one line. Nothing for anything else.
std::optional<TLogDate> ParseDateRecord(const std::string& text) {
  if (!text.starts_with(kRecordHeader) || !text.ends_with('\n')) return std::nullopt;
  const char* p = text.data() + kRecordHeader.size();
  const char* end = text.data() + text.size() - 1;
  TLogDate date;
  auto [space, ec] = std::from_chars(p, end, date.seconds);
  if (ec != std::errc() || space == end || *space != ' ') return std::nullopt;
  auto [last, ec2] = std::from_chars(space + 1, end, date.nanoseconds);
  if (ec2 != std::errc() || last != end || date.nanoseconds < 0 || date.nanoseconds > 999999999)
    return std::nullopt;
  return date;
}

}  // namespace

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
  const std::size_t slash = path.rfind('/');
  recordName_ = kDateRecordPrefix + path.substr(slash + 1) + ".date";
  folder_ =
      base::OpenFolder(slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
  if (!folder_) throw base::EInOutError(base::InOutCodeFromErrno(errno));
  base::RemoveReplaceLeftovers(folder_.get(), recordName_);
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
    // A run that did not reach its end left the date it kept.
    const base::TSmallFileContent record =
        base::ReadSmallFile(folder_.get(), recordName_, kRecordMaxBytes);
    if (record.status == base::TSmallRead::srRead)
      if (const std::optional<TLogDate> kept = ParseDateRecord(record.content)) {
        previousSeconds_ = kept->seconds;
        previousNanoseconds_ = kept->nanoseconds;
      }
    std::uint32_t dos;
    if (base::TimeTToDosDateTime(static_cast<time_t>(previousSeconds_), dos))
      lastUpdate = base::DosDateTimeToDateTime(dos);
    try {
      WriteDateRecord();
    } catch (...) {
      file_.Close();
      throw;
    }
  } else {
    // Below every package date, so that the next run takes them all. The
    // record first: a kill between the log's creation and its first dating
    // must not leave a log dated now that no record contradicts.
    previousSeconds_ = base::DateTimeToTimeT(base::EncodeDate(2000, 1, 1));
    previousNanoseconds_ = 0;
    WriteDateRecord();
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
    bool wasOpen;
    bool restore;
    ~Closer() {
      if (log.file_.IsOpen()) try {
          log.file_.Close();
        } catch (...) {
        }
      // The record stays while the log may not have the date it keeps (and
      // when this run never had the log open): the next run believes it.
      if (wasOpen && (!restore || log.RestoreDate()) && log.folder_)
        ::unlinkat(log.folder_.get(), log.recordName_.c_str(), 0);
    }
  } closer{*this, file_.IsOpen(), keepPreviousDate && file_.IsOpen()};
  file_.WriteLine("Scan finished " + base::LogStamp(now));
  file_.WriteLine(CountLine(extractedCount));
  file_.WriteLine(std::string(70, '='));
  file_.Close();
}

bool TUpdateLog::RestoreDate() const {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(previousSeconds_);
  times[1].tv_nsec = previousNanoseconds_;
  return ::utimensat(AT_FDCWD, path_.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

void TUpdateLog::WriteDateRecord() const {
  const std::string text = std::string(kRecordHeader) + std::to_string(previousSeconds_) + " " +
                           std::to_string(previousNanoseconds_) + "\n";
  const std::size_t slash = path_.rfind('/');
  base::ReplaceFileAtomically(
      folder_.get(), recordName_, text, 0644,
      base::EscapeControlCharacters(path_.substr(0, slash + 1) + recordName_));
}

}  // namespace krevo::app
