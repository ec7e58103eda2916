#pragma once
// What one run of the updater did, gathered while it goes: when it started,
// each package's ending, the bytes it downloaded, its last error, and the
// installation it finished or rolled back. The status file, the metrics and
// the journal are made from it once the run is over.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace krevo::app {

// One package of a run and how its turn ended: "complete", "failed",
// "not signed" or "bad signature".
struct TPackageEnding {
  std::string name;
  std::string ending;
};

class TRunRecord final {
 public:
  // The run starts now.
  TRunRecord() : started_(std::chrono::system_clock::now()) {}

  // `ending` as the list line gains it (" ... complete"); the leading " ... " is
  // dropped. The first kMaxListedPackages are kept, the rest only counted,
  // so that a server offering a flood of packages cannot make the status
  // file too large to be read back.
  void AddPackage(const std::string& name, const std::string& ending);
  static constexpr std::size_t kMaxListedPackages = 500;
  // A package that this machine's place in its phased release holds back;
  // the first kMaxListedPackages are kept, all counted.
  void AddHeldByPhase(const std::string& name);
  // A work event of a download: `count` is the running total of the transfer
  // that `begin` started.
  void WorkBegin() { workCount_ = 0; }
  void Work(std::int64_t count);
  // An error or failure shown to the user; the last one is the run's message
  // (its first kMaxMessageBytes).
  // The next one after SummaryFollows is the summary of the failures already
  // noted, and is not taken.
  void NoteError(const std::string& text);
  void SummaryFollows() { skipNextError_ = true; }
  static constexpr std::size_t kMaxMessageBytes = 4096;
  // The log line of an installation that a killed run left and this one
  // finished, or of the package this run rolled back.
  void NoteRecovery(const std::string& line) { recovery_ = line; }
  // The line of a health check that failed and had its package rolled back
  // (the last one when several did), and their count.
  void NoteHealthCheck(const std::string& line) {
    healthCheck_ = line.substr(0, kMaxMessageBytes);
    ++healthCheckRollbacks_;
  }
  // A bound of the run (its time, the retries a source may cost) ended it:
  // the status says error, whatever the exit status.
  void NoteEndedByBound() { endedByBound_ = true; }

  std::chrono::system_clock::time_point Started() const { return started_; }
  const std::vector<TPackageEnding>& Packages() const { return packages_; }
  // Packages that ended "complete", listed or not.
  std::uint64_t InstalledCount() const { return installed_; }
  // Packages past kMaxListedPackages.
  std::uint64_t OmittedCount() const { return omitted_; }
  std::uint64_t BytesDownloaded() const { return bytes_; }
  const std::vector<std::string>& HeldByPhase() const { return held_; }
  std::uint64_t HeldCount() const { return heldCount_; }
  const std::string& Message() const { return message_; }
  const std::string& Recovery() const { return recovery_; }
  const std::string& HealthCheck() const { return healthCheck_; }
  std::uint64_t HealthCheckRollbacks() const { return healthCheckRollbacks_; }
  bool EndedByBound() const { return endedByBound_; }

 private:
  std::chrono::system_clock::time_point started_;
  std::vector<TPackageEnding> packages_;
  std::uint64_t installed_ = 0;
  std::uint64_t omitted_ = 0;
  std::uint64_t bytes_ = 0;
  std::vector<std::string> held_;
  std::uint64_t heldCount_ = 0;
  std::int64_t workCount_ = 0;
  std::string message_;
  bool skipNextError_ = false;
  std::string recovery_;
  std::string healthCheck_;
  std::uint64_t healthCheckRollbacks_ = 0;
  bool endedByBound_ = false;
};

}  // namespace krevo::app
