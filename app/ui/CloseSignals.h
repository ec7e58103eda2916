#pragma once
// The close command from outside: SIGINT and SIGTERM are caught, never allowed
// to kill the process, so that the log footer is always written. The owner
// decides when a caught signal closes the window, and a run in progress
// watches StopSignalFd to stop.

namespace krevo::app {

// Installs the handlers (once per process).
void InstallCloseSignals();
// The signal caught since the last call, or 0; clears it.
int TakeCloseSignal();
// A descriptor that becomes readable when a signal is caught (for a toolkit's
// file-descriptor watch); drain it with TakeCloseSignal and DrainCloseSignalFd.
int CloseSignalFd();
void DrainCloseSignalFd();
// A descriptor that becomes readable with the first signal caught and stays
// readable for the life of the process (nothing drains it), so that every
// later wait of a run sees the stop; -1 before InstallCloseSignals.
int StopSignalFd();
// The first signal caught since InstallCloseSignals, or 0; never cleared.
int StopSignal();

}  // namespace krevo::app
