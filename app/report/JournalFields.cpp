#include "app/report/JournalFields.h"

#include <sys/stat.h>
#include <sys/uio.h>
// The entry is the run's, not a line of code's: no CODE_FILE and CODE_LINE.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "base/ControlEscape.h"

namespace krevo::app {
namespace {

const char* Priority(const std::string& outcome) {
  if (outcome == "updated" || outcome == "nothing_new") return "6";
  if (outcome == "stopped") return "5";
  if (outcome == "failed" || outcome == "in_use") return "4";
  return "3";
}

}  // namespace

std::vector<std::string> JournalFields(const TRunStatus& s,
                                       const std::vector<std::string>& fileErrors) {
  std::string message =
      "Update run ended: " + s.outcome + " (exit status " + std::to_string(s.exitStatus) + ")";
  if (!s.message.empty()) message += ": " + base::EscapeControlCharacters(s.message);
  for (const std::string& error : fileErrors) message += " " + base::EscapeControlCharacters(error);
  // A watcher that reads only the files must not miss that they are gone.
  std::string priority = Priority(s.outcome);
  if (!fileErrors.empty() && priority > "4") priority = "4";
  std::vector<std::string> fields = {
      "MESSAGE=" + message,
      "PRIORITY=" + priority,
      "SYSLOG_IDENTIFIER=krevo-updater",
      "KREVO_OUTCOME=" + s.outcome,
      "KREVO_EXIT_STATUS=" + std::to_string(s.exitStatus),
  };
  for (const TPackageEnding& p : s.packages)
    fields.push_back("KREVO_PACKAGE=" + base::EscapeControlCharacters(p.name) + " ... " + p.ending);
  if (!s.healthCheck.empty())
    fields.push_back("KREVO_HEALTH_CHECK=" + base::EscapeControlCharacters(s.healthCheck));
  for (const std::string& error : fileErrors)
    fields.push_back("KREVO_FILE_ERROR=" + base::EscapeControlCharacters(error));
  return fields;
}

bool StandardErrorIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (!stream) return false;
  const char* end = stream + std::strlen(stream);
  unsigned long long device = 0, inode = 0;
  auto [colon, ec] = std::from_chars(stream, end, device);
  if (ec != std::errc() || colon == end || *colon != ':') return false;
  auto [last, ec2] = std::from_chars(colon + 1, end, inode);
  if (ec2 != std::errc() || last != end) return false;
  struct stat st;
  return ::fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

bool SendToJournal(const std::vector<std::string>& fields) {
  std::vector<iovec> parts;
  for (const std::string& f : fields) parts.push_back({const_cast<char*>(f.data()), f.size()});
  return ::sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) >= 0;
}

}  // namespace krevo::app
