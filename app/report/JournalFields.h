#pragma once
// The run's summary as one structured journal entry, for the unattended runs
// that systemd starts with standard error going to the journal: a query can
// then select runs by outcome (journalctl -u krevo-updater KREVO_OUTCOME=failed).
#include <string>
#include <vector>

#include "app/report/RunStatus.h"

namespace krevo::app {

// The entry's fields, "NAME=value" each: MESSAGE (the outcome, the exit
// status and the message), PRIORITY (6 for updated and nothing_new, 5 for
// stopped, 4 for failed and in_use, 3 otherwise), SYSLOG_IDENTIFIER,
// KREVO_OUTCOME, KREVO_EXIT_STATUS, and KREVO_PACKAGE once for each package
// of the run ("up090101.zip ... complete"). Each of `fileErrors` (a status
// or metrics file that could not be written) is added to MESSAGE and as a
// KREVO_FILE_ERROR field, and makes the priority at least 4. Texts from
// servers and packages have their control characters escaped.
std::vector<std::string> JournalFields(const TRunStatus& status,
                                       const std::vector<std::string>& fileErrors = {});

// Whether standard error is the journal: JOURNAL_STREAM holds the device and
// inode ("DEV:INO") of standard error's stream. Elsewhere (a terminal, a
// file, a pipe) nothing is sent.
bool StandardErrorIsJournal();

// Sends `fields` as one journal entry. Returns false when the journal did
// not take it. Never throws but std::bad_alloc.
bool SendToJournal(const std::vector<std::string>& fields);

}  // namespace krevo::app
