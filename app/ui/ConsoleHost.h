#pragma once
// Runs the updater without a window: the same logic, with the list box's lines
// on standard output, the progress bars on standard error when it is a
// terminal, the notes (a retry) on standard error, and the dialogs of
// TConsoleDialogs.
#include <chrono>
#include <string>

#include "app/run/FormHost.h"

namespace krevo::app {

class TForm1;

class TConsoleHost final : public TFormHost {
 public:
  void ProcessMessages() override;
  void SetWaitCursor(bool) override {}
  void Terminate() override { terminated_ = true; }
  // The note on standard error, on a line of its own.
  void ShowNote(const std::string& text) override;

  // Creates the form of `executableFolder`, runs it to its close, records
  // the run (RecordFinishedRun: the status file, the metrics, the journal)
  // and returns the exit status (see ConsoleExitStatus). `title` is the
  // application title.
  int Run(const std::string& title, const std::string& executableFolder);
  // Run takes every package of the index at once, whatever its phase.
  bool IgnorePhasing = false;
  // The same with the rollback run (TForm1::OnRollBack) instead of the timer's.
  int RollBack(const std::string& title, const std::string& executableFolder);

 private:
  void Attach(TForm1& form);
  void DrawBars(TForm1& form);
  void EndBarLine();
  bool terminated_ = false;
  bool barsOnTerminal_ = false;
  bool barsDrawn_ = false;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace krevo::app
