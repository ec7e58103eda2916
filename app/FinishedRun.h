#pragma once
// What is left for others to read once a run is over: the status file in the
// root folder, the metrics file where one is configured, and a journal entry
// where standard error is the journal.
#include <iosfwd>
#include <string>

namespace krevo::app {

class TForm1;

// Records the run of `form` (closed), which ended with the console exit
// status `exitStatus`; `action` is "update" or "rollback". A run that
// refused to start because others may change its paths writes no file,
// only the journal entry. A file that cannot be written is reported on
// `err` after `title` ("Krevo-updater: ..."), and nothing else changes.
// Never throws but std::bad_alloc.
void RecordFinishedRun(const TForm1& form, int exitStatus, const std::string& action,
                       const std::string& title, std::ostream& err);

}  // namespace krevo::app
