#pragma once
// Runs the updater in its window: borderless, centred, 606 x 241, with the
// list of packages, the two progress bars and the version label.
#include <memory>
#include <string>

#include "app/run/FormHost.h"

class Fl_Double_Window;

namespace krevo::app {

class TForm1;

class TFltkHost final : public TFormHost {
 public:
  TFltkHost();
  ~TFltkHost() override;

  // True when a display can be opened. The connection it opens stays open
  // for OpenDisplay, so that the window never needs a second one.
  static bool DisplayAvailable();
  // Opens the toolkit's display on the connection DisplayAvailable opened,
  // or on a new one; the toolkit's error ends the program when none opens.
  static void OpenDisplay();

  void ProcessMessages() override;
  void SetWaitCursor(bool wait) override;
  void SelectListLine(int index) override;
  void Terminate() override;

  // Creates the form of `executableFolder`, shows its window and runs the
  // message loop until the window closes, then records the run with the
  // exit status the console would have had (RecordFinishedRun; a window
  // closed before the run started records nothing). Returns 0 as the window
  // mode always does.
  int Run(const std::string& title, const std::string& executableFolder);

 private:
  struct Widgets;
  void Build(TForm1& form);
  std::unique_ptr<Widgets> widgets_;
};

}  // namespace krevo::app
