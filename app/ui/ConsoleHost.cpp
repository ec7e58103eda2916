#include "app/ui/ConsoleHost.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>

#include "app/report/FinishedRun.h"
#include "app/report/RunRecordDialogs.h"
#include "app/run/Application.h"
#include "app/run/TForm1.h"
#include "app/ui/CloseSignals.h"
#include "app/ui/ConsoleDialogs.h"
#include "app/ui/ExitStatus.h"
#include "base/ControlEscape.h"

namespace krevo::app {
namespace {

// Installs a dialog service for the life of the scope.
class DialogScope final {
 public:
  explicit DialogScope(base::TDialogService& service) : previous_(base::SetDialogs(&service)) {}
  DialogScope(const DialogScope&) = delete;
  DialogScope& operator=(const DialogScope&) = delete;
  ~DialogScope() { base::SetDialogs(previous_); }

 private:
  base::TDialogService* previous_;
};

std::string Bar(const TProgressBar& bar) {
  constexpr int kWidth = 20;
  const double range = static_cast<double>(bar.Max() - bar.Min());
  const double done = range > 0 ? static_cast<double>(bar.Position() - bar.Min()) / range : 0;
  // The bar keeps its position within Min..Max; the clamp says so here too. The
  // text is appended piece by piece: GCC 12 warns falsely (-Wrestrict) on
  // "literal" + std::string.
  const int filled = std::clamp(static_cast<int>(done * kWidth), 0, kWidth);
  std::string text = "[";
  text.append(filled, '#').append(kWidth - filled, '.').append("] ");
  text += std::to_string(static_cast<int>(done * 100));
  text += '%';
  return text;
}

}  // namespace

void TConsoleHost::ProcessMessages() {
  std::cout.flush();
}

void TConsoleHost::ShowNote(const std::string& text) {
  EndBarLine();
  std::cerr << base::EscapeControlCharacters(text) << std::endl;
}

void TConsoleHost::DrawBars(TForm1& form) {
  if (!barsOnTerminal_) return;
  // A few redraws a second are enough to see progress; a full bar is always drawn.
  const auto now = std::chrono::steady_clock::now();
  const bool full = form.ProgressBar1.Position() == form.ProgressBar1.Max() ||
                    form.ProgressBar2.Position() == form.ProgressBar2.Max();
  if (!full && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  std::cerr << "\rDownload progress " << Bar(form.ProgressBar1) << "  Install progress "
            << Bar(form.ProgressBar2) << std::flush;
  barsDrawn_ = true;
}

void TConsoleHost::EndBarLine() {
  if (barsDrawn_) std::cerr << '\n';
  barsDrawn_ = false;
}

void TConsoleHost::Attach(TForm1& form) {
  form.ListBox1.OnChange = [this, &form](base::TStringList::TChange change, int index) {
    if (change == base::TStringList::TChange::Cleared) return;
    EndBarLine();
    // The lines come from the server.
    std::cout << base::EscapeControlCharacters(form.ListBox1[index]) << std::endl;
  };
  form.ProgressBar1.OnChange = [this, &form] { DrawBars(form); };
  form.ProgressBar2.OnChange = [this, &form] { DrawBars(form); };
}

int TConsoleHost::Run(const std::string& title, const std::string& executableFolder) {
  InstallCloseSignals();
  barsOnTerminal_ = ::isatty(STDERR_FILENO) == 1;
  TConsoleDialogs dialogs(std::cin, std::cerr, ::isatty(STDIN_FILENO) == 1);
  dialogs.BeforeOutput = [this] { EndBarLine(); };
  TApplication application(title);
  TForm1 form(*this, application, executableFolder);
  form.IgnorePhasing = IgnorePhasing;
  TRunRecordDialogs recording(dialogs, form.RunRecord);
  DialogScope scope(recording);
  form.SetStopDescriptor(StopSignalFd());
  Attach(form);

  application.Guard([&form] { form.FormCreate(); });
  // The one-shot timer goes off after a second; a close command before then
  // closes at once. During the run the close command stops the run, and once
  // the run has ended nobody is left to close the window, so it closes.
  int closing = 0;
  for (int waited = 0; waited < 1000 && !(closing = TakeCloseSignal()); waited += 50)
    ::poll(nullptr, 0, 50);
  if (!closing) {
    form.OnTimer1();
    TakeCloseSignal();
    if (form.Stopped()) closing = StopSignal();
  }
  if (!form.Closed()) form.Close();
  EndBarLine();
  std::cout.flush();
  const int status = ConsoleExitStatus(form.Outcome(), application.ErrorShown(), closing);
  RecordFinishedRun(form.Facts(), status, "update", title, std::cerr);
  return status;
}

int TConsoleHost::RollBack(const std::string& title, const std::string& executableFolder) {
  TConsoleDialogs dialogs(std::cin, std::cerr, ::isatty(STDIN_FILENO) == 1);
  TApplication application(title);
  TForm1 form(*this, application, executableFolder);
  TRunRecordDialogs recording(dialogs, form.RunRecord);
  DialogScope scope(recording);
  application.Guard([&form] { form.FormCreate(); });
  form.OnRollBack();
  if (!form.Closed()) form.Close();
  std::cout.flush();
  const int status = ConsoleExitStatus(form.Outcome(), application.ErrorShown(), 0);
  RecordFinishedRun(form.Facts(), status, "rollback", title, std::cerr);
  return status;
}

}  // namespace krevo::app
