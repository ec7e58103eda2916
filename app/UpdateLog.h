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

  // Writes one line. Throws EInOutError (105 when the log is not open).
  void AppendLine(const std::string& line);

  // Writes "Scan finished " with the stamp of `now`, the count line and the
  // separator of 70 '=', then closes the log. Throws EInOutError; the log is
  // closed in every case.
  void Close(int extractedCount, base::TDateTime now);

  bool IsOpen() const { return file_.IsOpen(); }

 private:
  base::TTextFile file_;
};

}  // namespace krevo::app
