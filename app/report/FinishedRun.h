#pragma once
// What is left for others to read once a run is over: the status file in the
// root folder, the metrics file where one is configured, and a journal entry
// where standard error is the journal.
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "app/report/RunRecord.h"

namespace krevo::app {

// The facts of a closed run that the files and the journal are made of.
struct TRunFacts {
  const TRunRecord& Record;  // borrowed: what the run did
  std::string RootFolder;    // the installation's root folder (empty: the working folder)
  bool Refused = false;      // the run refused to start: others may change its paths
  std::string Source;        // the source the run used, or tried last
  std::optional<std::uint64_t> IndexSequence;  // the package index accepted, if any
  std::string MetricsFile;                     // where the metrics go; empty: nowhere
};

// Records the run that `facts` describe, which ended with the console exit
// status `exitStatus`; `action` is "update" or "rollback". A run that
// refused to start because others may change its paths writes no file,
// only the journal entry. A file that cannot be written is removed, so that
// no earlier run's figures stand for this one's, and reported on `err` after
// `title` ("Krevo-updater: ...") and in the journal entry; nothing else
// changes. Never throws but std::bad_alloc.
void RecordFinishedRun(const TRunFacts& facts, int exitStatus, const std::string& action,
                       const std::string& title, std::ostream& err);

}  // namespace krevo::app
