#pragma once
// The status of the last run, as `updates-status.json` in the root folder
// holds it for the people and programs that watch a fleet of installations:
// how the run ended, what it did, and the figures carried over from the runs
// before it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/report/RunRecord.h"

namespace krevo::app {

inline constexpr const char* kStatusFileName = "updates-status.json";
// The largest status file that is read back; a larger one counts as absent.
// A run's own file stays far below it (TRunRecord bounds what it lists).
inline constexpr std::size_t kStatusFileMaxBytes = 1024 * 1024;

struct TRunStatus {
  std::string updaterVersion;
  // Seconds since 1970 (UTC); written as ISO 8601 ("2026-12-09T20:15:00Z").
  std::int64_t runStarted = 0;
  std::int64_t runFinished = 0;
  // "update", or "rollback" for krevo-updater --rollback.
  std::string action = "update";
  // RunOutcomeName.
  std::string outcome;
  int exitStatus = 0;
  // The run's last error or failure; empty when none.
  std::string message;
  std::vector<TPackageEnding> packages;
  // Packages of the run past those listed (TRunRecord::kMaxListedPackages).
  std::uint64_t packagesOmitted = 0;
  // Packages the run left for later because their phase had not reached
  // this machine's place (the first TRunRecord::kMaxListedPackages), and how
  // many there were in all.
  std::vector<std::string> heldByPhase;
  std::uint64_t heldCount = 0;
  // When a run last ended with exit status 0; nothing when none did.
  std::optional<std::int64_t> lastSuccess;
  // Runs in a row, this one included, that did not end with exit status 0.
  std::uint64_t consecutiveFailures = 0;
  std::uint64_t bytesDownloaded = 0;
  // Packages installed whole over every run of the installation.
  std::uint64_t packagesInstalledTotal = 0;
  // "ftp://HOST:PORT" or "ftps://HOST:PORT".
  std::string source;
  // The sequence number of the package index the run accepted, if any.
  std::optional<std::uint64_t> indexSequence;
  // The log line of an interrupted installation this run finished, or of the
  // package it rolled back; empty when none.
  std::string recovery;
  // The line of the last health check that failed in the run, its package
  // rolled back; empty when none did.
  std::string healthCheck;
  // Packages rolled back for a failed health check over every run.
  std::uint64_t healthCheckRollbacksTotal = 0;
};

// The status file's `outcome` for a run that ended with the console exit
// status `exitStatus`: 0 "updated" when it installed a package, else
// "nothing_new"; 1 "error"; 2 "in_use"; 3 "unreachable"; 4 "failed"; 128 and
// above "stopped"; anything else "error".
std::string RunOutcomeName(int exitStatus, bool installedAny);

// The status of the run `record` describes, ended with `exitStatus` at
// `finished`, carrying over the last success, the failures in a row and the
// installed packages from `previous` (nothing: this is the first status).
TRunStatus MakeRunStatus(const TRunRecord& record, int exitStatus, std::int64_t finished,
                         const std::optional<TRunStatus>& previous);

// The status file's text: one JSON object, schema 1, in printable ASCII
// (anything else as \u escapes), ending in a line feed.
std::string RunStatusJson(const TRunStatus& status);

// The status that `text` holds. Nothing when it is not a JSON object of
// schema 1 or a field is missing or of the wrong kind; figures out of range
// and times that are not ISO 8601 UTC count as such. Never throws but
// std::bad_alloc: the file is anybody's guess after a disk fault.
std::optional<TRunStatus> ParseRunStatus(const std::string& text);

// A status file's text (valid JSON) for a program to read from a terminal:
// as it stands when it holds only printable ASCII and white space, as a run
// writes it; else the same JSON with every other character as a \u escape,
// so that a planted file cannot steer the terminal. Empty for text that is
// not JSON. Never throws but std::bad_alloc.
std::string PrintableStatusJson(const std::string& text);

// The status for a person, one "Name: value" line each, every text from the
// file with its control characters escaped.
std::string RunStatusText(const TRunStatus& status);

// "2026-12-09T20:15:00Z" for `seconds` since 1970.
std::string IsoTime(std::int64_t seconds);

}  // namespace krevo::app
