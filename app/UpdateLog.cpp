#include "app/UpdateLog.h"

#include "base/FileSystem.h"

namespace krevo::app {

std::string TUpdateLog::PathFor(const std::string& rootFolder) { return rootFolder + "updates.log"; }

std::string TUpdateLog::CountLine(int extractedCount) {
  if (extractedCount == 0) return "No files were updated.";
  if (extractedCount == 1) return "1 file updated.";
  return std::to_string(extractedCount) + " files updated.";
}

base::TDateTime TUpdateLog::Open(const std::string& rootFolder, base::TDateTime now) {
  const std::string path = PathFor(rootFolder);
  base::TDateTime lastUpdate = 0;
  // An existing log is always appended to, even when its date cannot be held
  // as a DOS date-time: emptying it would lose the record of every earlier run.
  if (base::FileExists(path)) {
    if (auto age = base::FileAge(path)) lastUpdate = base::DosDateTimeToDateTime(*age);
    file_.Append(path);
  } else {
    file_.Rewrite(path);
    file_.WriteLine("krevo system updates log.");
    file_.WriteLine("Do not delete this file, unless you want all online updates to be re-downloaded.");
  }
  file_.WriteLine("Scan started " + base::LogStamp(now));
  return lastUpdate;
}

void TUpdateLog::AppendLine(const std::string& line) { file_.WriteLine(line); }

void TUpdateLog::Close(int extractedCount, base::TDateTime now) {
  struct Closer {
    base::TTextFile& file;
    ~Closer() {
      if (file.IsOpen()) try {
          file.Close();
        } catch (...) {
        }
    }
  } closer{file_};
  file_.WriteLine("Scan finished " + base::LogStamp(now));
  file_.WriteLine(CountLine(extractedCount));
  file_.WriteLine(std::string(70, '='));
  file_.Close();
}

}  // namespace krevo::app
