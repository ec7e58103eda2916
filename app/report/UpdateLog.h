#pragma once
// The update log, `updates.log` in the root folder: the record of every run and
// every installed file, and through its file date the date of the last update.
#include <string>

#include "base/DateTime.h"
#include "base/TextFile.h"

namespace krevo::app {

class TUpdateLog final {
 public:
  // The log's path: the root folder followed directly by "updates.log".
  static std::string PathFor(const std::string& rootFolder);
  // The count line of the footer: "No files were updated.", "1 file updated.",
  // "<n> files updated.".
  static std::string CountLine(int extractedCount);

  // Opens the log of `rootFolder` for appending, or creates it with its two
  // header lines, then writes "Scan started " and the stamp of `now`. Returns
  // the last-update date: the existing log's file date (to two seconds), or 0
  // for a new log or one whose date lies outside 1980-2107. Throws EInOutError
  // when the log cannot be opened, created or written.
  base::TDateTime Open(const std::string& rootFolder, base::TDateTime now);

  // Writes one line with its control characters escaped: the line names
  // entries of a package, and a CR or LF in a name must not start a line of
  // its own. Throws EInOutError (105 when the
  // log is not open).
  // Until Close, the log keeps the date it had when opened (2000-01-01 for a
  // new one): a run that is killed half way must not count as an update.
  void AppendLine(const std::string& line);

  // Writes "Scan finished " with the stamp of `now`, the count line and the
  // separator of 70 '=', then closes the log. Throws EInOutError; the log is
  // closed in every case.
  //
  // The log's date is the date of the last update, so a run that failed must
  // not move it: with `keepPreviousDate` the log gets back the modification
  // time it had when opened, or 2000-01-01 00:00:00 local time when this run
  // created it (below every package date, so the next run takes them all).
  void Close(int extractedCount, base::TDateTime now, bool keepPreviousDate = false);

  bool IsOpen() const { return file_.IsOpen(); }

 private:
  void RestoreDate() const;

  base::TTextFile file_;
  std::string path_;
  bool created_ = false;
  long long previousSeconds_ = 0;
  long previousNanoseconds_ = 0;
};

}  // namespace krevo::app
