#include "app/ui/FltkHost.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Progress.H>
#include <FL/fl_draw.H>
// The toolkit's headers bring in X's, which define Button1 as a number; the
// form has a button of that name.
#undef Button1

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>

#include "app/report/FinishedRun.h"
#include "app/report/RunRecordDialogs.h"
#include "app/run/Application.h"
#include "app/run/TForm1.h"
#include "app/ui/CloseSignals.h"
#include "app/ui/ExitStatus.h"
#include "app/ui/FltkDialogs.h"
#include "base/ControlEscape.h"

namespace krevo::app {
namespace {

constexpr int kClientWidth = 606;
constexpr int kClientHeight = 241;
constexpr int kControlsLeft = 136;
const Fl_Color kNavy = fl_rgb_color(0, 0, 128);
const Fl_Color kSkyBlue = fl_rgb_color(166, 202, 240);

// The largest font size, at most 13, at which every left-hand label ends at
// least 4 pixels before the controls: the sans font is wider than the one the
// layout was drawn for.
int LabelFontSize(std::initializer_list<const char*> labels) {
  for (int size = 13; size > 8; --size) {
    fl_font(FL_HELVETICA, size);
    bool fits = std::all_of(labels.begin(), labels.end(),
                            [](const char* l) { return 16 + fl_width(l) <= kControlsLeft - 4; });
    if (fits) return size;
  }
  return 9;
}

void OnTimer1(void* data) {
  static_cast<TForm1*>(data)->OnTimer1();
}

// During a run the signal is left to the run, which watches the stop
// descriptor and closes the window once it has stopped.
void OnCloseSignal(int, void* data) {
  DrainCloseSignalFd();
  auto* form = static_cast<TForm1*>(data);
  if (TakeCloseSignal() && !form->RunInProgress()) form->Close();
}

}  // namespace

// Widgets are created with new and owned by the window, FLTK's ownership
// model; the window itself is owned here.
struct TFltkHost::Widgets {
  std::unique_ptr<Fl_Double_Window> window;
  Fl_Hold_Browser* listBox1 = nullptr;
  Fl_Progress* progressBar1 = nullptr;
  Fl_Progress* progressBar2 = nullptr;
  Fl_Box* label5 = nullptr;
  TForm1* form = nullptr;
};

TFltkHost::TFltkHost() : widgets_(std::make_unique<Widgets>()) {}
TFltkHost::~TFltkHost() = default;

void TFltkHost::ProcessMessages() {
  Fl::check();
}

void TFltkHost::SetWaitCursor(bool wait) {
  if (widgets_->window) widgets_->window->cursor(wait ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT);
  Fl::flush();
}

void TFltkHost::SelectListLine(int index) {
  if (widgets_->listBox1) widgets_->listBox1->select(index + 1);
}

void TFltkHost::Terminate() {
  if (widgets_->window) widgets_->window->hide();
}

// Moves the widget with its bar. A download moves the bar from inside a
// blocking transfer, so the bar is also redrawn there, a few times a second.
static void SyncProgress(Fl_Progress* widget, const TProgressBar& bar) {
  widget->minimum(static_cast<float>(bar.Min()));
  widget->maximum(static_cast<float>(bar.Max()));
  widget->value(static_cast<float>(bar.Position()));
  static auto lastFlush = std::chrono::steady_clock::time_point();
  const auto now = std::chrono::steady_clock::now();
  if (now - lastFlush >= std::chrono::milliseconds(50)) {
    lastFlush = now;
    Fl::flush();
  }
}

void TFltkHost::Build(TForm1& form) {
  Widgets& w = *widgets_;
  w.form = &form;
  w.window = std::make_unique<Fl_Double_Window>(kClientWidth, kClientHeight, kFormCaption);
  w.window->border(0);
  w.window->position((Fl::w() - kClientWidth) / 2, (Fl::h() - kClientHeight) / 2);

  auto* panel = new Fl_Box(FL_UP_BOX, 0, 0, kClientWidth, kClientHeight, nullptr);
  panel->color(kSkyBlue);

  const int size = LabelFontSize({"Available Updates", "Download progress", "Install progress"});
  auto label = [&](int x, int y, const char* text) {
    auto* box = new Fl_Box(x, y, kControlsLeft - x - 4, 16, text);
    box->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE);
    box->labelcolor(kNavy);
    box->labelsize(size);
    return box;
  };
  auto* label4 = new Fl_Box(16, 16, 560, 24, kHeading);
  label4->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE);
  label4->labelfont(FL_HELVETICA_BOLD_ITALIC);
  label4->labelsize(19);
  label4->labelcolor(kNavy);
  label(16, 48, "Available Updates");

  w.listBox1 = new Fl_Hold_Browser(kControlsLeft, 48, 457, 121);
  w.listBox1->textsize(12);
  auto* bitBtn3 = new Fl_Button(192, 80, 75, 25, "TestFTP");
  bitBtn3->hide();
  auto* button1 = new Fl_Button(288, 80, 75, 25, "Download");
  button1->hide();

  label(16, 176, "Download progress");
  w.progressBar1 = new Fl_Progress(kControlsLeft, 176, 457, 17);
  label(16, 208, "Install progress");
  w.progressBar2 = new Fl_Progress(kControlsLeft, 208, 457, 17);
  for (Fl_Progress* bar : {w.progressBar1, w.progressBar2}) {
    bar->color(FL_WHITE);
    bar->selection_color(fl_rgb_color(0, 120, 215));
  }

  w.label5 = new Fl_Box(kControlsLeft, 226, 594 - kControlsLeft, 13);
  w.label5->align(FL_ALIGN_RIGHT | FL_ALIGN_INSIDE);
  w.label5->labelsize(9);
  w.label5->labelcolor(kNavy);
  w.window->end();

  // The close command is honoured only when no run is in progress.
  w.window->callback(
      [](Fl_Widget*, void* data) {
        auto* f = static_cast<TForm1*>(data);
        if (!f->RunInProgress()) f->Close();
      },
      &form);

  form.ListBox1.OnChange = [this](base::TStringList::TChange change, int index) {
    Fl_Hold_Browser* list = widgets_->listBox1;
    const TForm1& f = *widgets_->form;
    if (change == base::TStringList::TChange::Cleared)
      list->clear();
    else if (change == base::TStringList::TChange::Added)
      list->add(base::EscapeControlCharacters(f.ListBox1[index]).c_str());
    else
      list->text(index + 1, base::EscapeControlCharacters(f.ListBox1[index]).c_str());
  };
  form.ProgressBar1.OnChange = [this] {
    SyncProgress(widgets_->progressBar1, widgets_->form->ProgressBar1);
  };
  form.ProgressBar2.OnChange = [this] {
    SyncProgress(widgets_->progressBar2, widgets_->form->ProgressBar2);
  };
  SyncProgress(w.progressBar1, form.ProgressBar1);
  SyncProgress(w.progressBar2, form.ProgressBar2);
}

int TFltkHost::Run(const std::string& title, const std::string& executableFolder) {
  InstallCloseSignals();
  OpenDisplay();
  TFltkDialogs dialogs;
  TApplication application(title);
  TForm1 form(*this, application, executableFolder);
  TRunRecordDialogs recording(dialogs, form.RunRecord);
  base::TDialogService* previous = base::SetDialogs(&recording);
  form.SetStopDescriptor(StopSignalFd());
  Build(form);

  application.Guard([&form] { form.FormCreate(); });
  widgets_->label5->copy_label(form.Label5.c_str());
  widgets_->window->show();

  Fl::add_timeout(1.0, OnTimer1, &form);
  if (CloseSignalFd() >= 0) Fl::add_fd(CloseSignalFd(), OnCloseSignal, &form);
  while (!form.Closed() && Fl::first_window()) Fl::wait();
  if (!form.Closed()) form.Close();
  Fl::remove_timeout(OnTimer1, &form);
  if (CloseSignalFd() >= 0) Fl::remove_fd(CloseSignalFd());
  widgets_->window.reset();
  base::SetDialogs(previous);
  // What the console would have said, for the status file and the journal. A
  // window closed before the run started leaves the last run's status.
  const int closing =
      form.Stopped() || form.Outcome() == TRunOutcome::NotStarted ? StopSignal() : 0;
  if (form.Outcome() != TRunOutcome::NotStarted || closing != 0)
    RecordFinishedRun(form.Facts(),
                      ConsoleExitStatus(form.Outcome(), application.ErrorShown(), closing),
                      "update", title, std::cerr);
  return 0;
}

}  // namespace krevo::app
