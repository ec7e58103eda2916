#pragma once
// The update log, `updates.log` in the root folder: the record of every run and
// every installed file, and through its file date the date of the last update.
//
// Each write moves the log's date and a call after it puts the date back, so
// a kill between the two would date the log now and the packages it had not
// installed would never be new again. While a run has the log open, the date
// it must keep is therefore also held in a small file beside the log
// (kDateRecordPrefix + the log's name), replaced atomically before the first
// write and removed once the run has set the date for good: a record found
// at Open was left by a run that did not get that far, and its date is the
// one believed. Without a record the log's own date is, as it always was,
// so that an administrator may still set it.
#include <string>

#include "base/DateTime.h"
#include "base/FileDescriptor.h"
#include "base/TextFile.h"

namespace krevo::app {

class TUpdateLog final {
 public:
  // The date record of a log named N is kDateRecordPrefix + N + ".date" beside it.
  static constexpr const char* kDateRecordPrefix = ".krevo-";

  // The log's path: the root folder followed directly by "updates.log".
  static std::string PathFor(const std::string& rootFolder);
  // The count line of the footer: "No files were updated.", "1 file updated.",
  // "<n> files updated.".
  static std::string CountLine(int extractedCount);

  // Opens the log of `rootFolder` for appending, or creates it with its two
  // header lines, then writes "Scan started " and the stamp of `now`. Returns
  // the last-update date: the existing log's file date (to two seconds), or
  // the date record's where a run left one (the log then gets that date
  // back), or 0 for a new log (whatever record there was) or one whose date
  // lies outside 1980-2107. Writes the date record before anything is written
  // to the log, and removes the record's leftover temporary files. Throws
  // EInOutError when the log cannot be opened, created or written, and
  // base::EAtomicFileError when the record cannot be written (the log is then
  // closed and has not been written to).
  base::TDateTime Open(const std::string& rootFolder, base::TDateTime now);

  // Writes one line with its control characters escaped: the line names
  // entries of a package, and a CR or LF in a name must not start a line of
  // its own. Throws EInOutError (105 when the
  // log is not open).
  // Until Close, the log keeps the date it had when opened (2000-01-01 for a
  // new one): a run that is killed half way must not count as an update.
  void AppendLine(const std::string& line);

  // Writes "Scan finished " with the stamp of `now`, the count line and the
  // separator of 70 '=', then closes the log and, once the log has the date
  // it keeps, removes the date record. Throws EInOutError; the log is closed
  // in every case.
  //
  // The log's date is the date of the last update, so a run that failed must
  // not move it: with `keepPreviousDate` the log gets back the modification
  // time it had when opened, or 2000-01-01 00:00:00 local time when this run
  // created it (below every package date, so the next run takes them all).
  void Close(int extractedCount, base::TDateTime now, bool keepPreviousDate = false);

  bool IsOpen() const { return file_.IsOpen(); }

 private:
  // Gives the log its date back; false when it could not be set.
  bool RestoreDate() const;
  // The date the log keeps until the run ends, durably, in the date record.
  void WriteDateRecord() const;

  base::TTextFile file_;
  std::string path_;
  base::UniqueFd folder_;   // the log's folder
  std::string recordName_;  // the date record's name in folder_
  bool created_ = false;
  long long previousSeconds_ = 0;
  long previousNanoseconds_ = 0;
};

}  // namespace krevo::app
