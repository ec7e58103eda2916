#pragma once
// The close command from outside: SIGINT and SIGTERM are caught, never allowed
// to kill the process, so that the log footer is always written. The owner
// decides when a caught signal closes the window.

namespace krevo::app {

// Installs the handlers (once per process).
void InstallCloseSignals();
// The signal caught since the last call, or 0; clears it.
int TakeCloseSignal();
// A descriptor that becomes readable when a signal is caught (for a toolkit's
// file-descriptor watch); drain it with TakeCloseSignal and DrainCloseSignalFd.
int CloseSignalFd();
void DrainCloseSignalFd();

}  // namespace krevo::app
