#include "app/ui/FltkDialogs.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <memory>
#include <vector>

#include "app/ui/CloseSignals.h"
#include "base/ControlEscape.h"

namespace krevo::app {
namespace {

constexpr int kFontSize = 13;
constexpr int kMaxTextWidth = 420;
constexpr int kButtonHeight = 25;

// What a dialog's window reports when it closes.
struct DialogState {
  int result = base::mrCancel;
  int escapeResult = base::mrCancel;
  bool done = false;
};

void OnWindowClose(Fl_Widget*, void* data) {
  auto* state = static_cast<DialogState*>(data);
  // FLTK sends both Esc and the window manager's close here.
  state->result = Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape ? state->escapeResult
                                                                             : base::mrCancel;
  state->done = true;
}

struct ButtonData {
  DialogState* state;
  int result;
};

void OnButton(Fl_Widget*, void* data) {
  auto* b = static_cast<ButtonData*>(data);
  b->state->result = b->result;
  b->state->done = true;
}

int EscapeResult(base::TMsgDlgButtons buttons) {
  for (base::TMsgDlgBtn b : {base::mbCancel, base::mbNo, base::mbOK, base::mbAbort})
    if (base::HasButton(buttons, b)) return base::ButtonResult(b);
  return base::mrCancel;
}

const char* IconSymbol(base::TMsgDlgType type) {
  switch (type) {
    case base::TMsgDlgType::mtWarning:
      return "!";
    case base::TMsgDlgType::mtError:
      return "X";
    case base::TMsgDlgType::mtInformation:
      return "i";
    case base::TMsgDlgType::mtConfirmation:
      return "?";
    case base::TMsgDlgType::mtCustom:
      break;
  }
  return nullptr;
}

Fl_Color IconColor(base::TMsgDlgType type) {
  switch (type) {
    case base::TMsgDlgType::mtError:
      return FL_RED;
    case base::TMsgDlgType::mtWarning:
      return fl_rgb_color(230, 170, 0);
    default:
      return fl_rgb_color(0, 70, 200);
  }
}

// Runs a modal window until a button or the close sets `state.done`. A close
// signal closes it too (its result is then the close's): a stopped run must
// not wait for somebody to click.
void RunModal(Fl_Window& window, DialogState& state) {
  window.position((Fl::w() - window.w()) / 2, (Fl::h() - window.h()) / 2);
  window.set_modal();
  window.show();
  while (!state.done && window.shown() && StopSignal() == 0) Fl::wait();
  window.hide();
}

}  // namespace

int TFltkDialogs::MessageDlg(const std::string& message, base::TMsgDlgType type,
                             base::TMsgDlgButtons buttons, const std::string& caption) {
  // A message may carry text from outside: its lines are kept, anything else
  // that controls a display is spelled out.
  const std::string text = base::EscapeControlCharactersInLines(message);
  const std::string title =
      base::EscapeControlCharacters(caption.empty() ? base::DialogCaption(type) : caption);
  fl_font(FL_HELVETICA, kFontSize);
  int textW = kMaxTextWidth, textH = 0;
  fl_measure(text.c_str(), textW, textH, 0);
  textW = std::max(textW, 120);

  std::vector<base::TMsgDlgBtn> shown;
  for (int b = base::mbYes; b <= base::mbHelp; ++b)
    if (base::HasButton(buttons, static_cast<base::TMsgDlgBtn>(b)))
      shown.push_back(static_cast<base::TMsgDlgBtn>(b));
  if (shown.empty()) shown.push_back(base::mbOK);
  std::vector<int> widths;
  int rowW = 0;
  for (base::TMsgDlgBtn b : shown) {
    widths.push_back(std::max(75, static_cast<int>(fl_width(base::ButtonCaption(b).c_str())) + 24));
    rowW += widths.back() + 8;
  }
  rowW -= 8;

  const int iconW = IconSymbol(type) ? 56 : 0;
  const int w = std::max(iconW + textW + 32, rowW + 24);
  const int textTop = 16, textBottom = textTop + std::max(textH, 40);
  const int h = textBottom + 16 + kButtonHeight + 12;

  DialogState state;
  state.escapeResult = EscapeResult(buttons);
  Fl_Window window(w, h, title.c_str());
  window.callback(OnWindowClose, &state);
  if (const char* symbol = IconSymbol(type)) {
    auto* icon = new Fl_Box(FL_OVAL_BOX, 12, textTop, 40, 40, symbol);  // owned by window
    icon->color(IconColor(type));
    icon->labelcolor(FL_WHITE);
    icon->labelfont(FL_HELVETICA_BOLD);
    icon->labelsize(24);
  }
  auto* label = new Fl_Box(12 + iconW, textTop, w - iconW - 24, textBottom - textTop);
  label->copy_label(text.c_str());
  label->labelsize(kFontSize);
  label->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);

  const base::TMsgDlgBtn preset = base::DefaultButton(buttons);
  std::vector<ButtonData> data(shown.size());
  Fl_Button* presetButton = nullptr;
  int x = (w - rowW) / 2;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const std::string caption_i = base::ButtonCaption(shown[i]);
    Fl_Button* button =
        shown[i] == preset
            ? new Fl_Return_Button(x, h - 12 - kButtonHeight, widths[i], kButtonHeight)
            : new Fl_Button(x, h - 12 - kButtonHeight, widths[i], kButtonHeight);
    button->copy_label(caption_i.c_str());
    button->labelsize(kFontSize);
    data[i] = {&state, base::ButtonResult(shown[i])};
    button->callback(OnButton, &data[i]);
    if (shown[i] == preset) presetButton = button;
    x += widths[i] + 8;
  }
  window.end();
  // Focus only once every widget is in: taking it ends the group that new
  // widgets join, and the buttons after the focused one were left out.
  if (presetButton) presetButton->take_focus();
  RunModal(window, state);
  return state.result;
}

bool TFltkDialogs::InputQuery(const std::string& caption, const std::string& prompt,
                              std::string& value) {
  const int w = 360, h = 110;
  DialogState state;
  const std::string title = base::EscapeControlCharacters(caption);
  Fl_Window window(w, h, title.c_str());
  window.callback(OnWindowClose, &state);
  auto* label = new Fl_Box(12, 10, w - 24, 20);
  label->copy_label(base::EscapeControlCharacters(prompt).c_str());
  label->labelsize(kFontSize);
  label->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
  auto* input = new Fl_Input(12, 34, w - 24, 25);
  input->value(value.c_str());
  input->textsize(kFontSize);
  ButtonData ok{&state, base::mrOk}, cancel{&state, base::mrCancel};
  auto* okButton =
      new Fl_Return_Button(w - 2 * (75 + 8) - 4, h - 12 - kButtonHeight, 75, kButtonHeight, "OK");
  okButton->callback(OnButton, &ok);
  auto* cancelButton =
      new Fl_Button(w - 75 - 12, h - 12 - kButtonHeight, 75, kButtonHeight, "Cancel");
  cancelButton->callback(OnButton, &cancel);
  window.end();
  input->take_focus();
  RunModal(window, state);
  if (state.result != base::mrOk) return false;
  value = input->value();
  return true;
}

void TFltkDialogs::ShowError(const std::string& title, const std::string& message) {
  MessageDlg(message, base::TMsgDlgType::mtError, base::MakeButtons({base::mbOK}), title);
}

}  // namespace krevo::app
