#include "app/ui/ConsoleDialogs.h"

#include <cctype>
#include <string>

#include "base/ControlEscape.h"

namespace krevo::app {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A dialog's text as one line: line breaks inside become blanks, those at the
// end go (server replies end in CR LF), and any other control character,
// which may come from outside, is spelled out rather than sent to the
// terminal.
std::string OneLine(const std::string& text) {
  std::string line = base::EscapeControlCharactersInLines(text);
  for (char& c : line)
    if (c == '\n') c = ' ';
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// The caption of the button among `buttons` that gives `result`; "Cancel" for
// a dialog closed without one.
std::string AnswerCaption(base::TMsgDlgButtons buttons, int result) {
  for (int b = base::mbYes; b <= base::mbHelp; ++b) {
    auto button = static_cast<base::TMsgDlgBtn>(b);
    if (base::HasButton(buttons, button) && base::ButtonResult(button) == result)
      return PlainCaption(base::ButtonCaption(button));
  }
  return "Cancel";
}

}  // namespace

std::string PlainCaption(const std::string& caption, char* accelerator) {
  std::string plain;
  if (accelerator) *accelerator = '\0';
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) {
      if (accelerator)
        *accelerator = static_cast<char>(std::tolower(static_cast<unsigned char>(caption[i + 1])));
      continue;
    }
    plain += caption[i];
  }
  return plain;
}

void TConsoleDialogs::ShowAnswer(const std::string& answer, const char* why) {
  err_ << "  -> " << answer << " (" << why << ")" << std::endl;
}

int TConsoleDialogs::MessageDlg(const std::string& text, base::TMsgDlgType type,
                                base::TMsgDlgButtons buttons, const std::string& caption) {
  Prepare();
  err_ << OneLine(caption.empty() ? base::DialogCaption(type) : caption) << ": " << OneLine(text)
       << std::endl;
  const bool onlyOk = buttons == base::MakeButtons({base::mbOK});
  const int unattended = base::UnattendedResult(buttons);
  if (onlyOk) return unattended;
  if (!interactive_) {
    ShowAnswer(AnswerCaption(buttons, unattended), "unattended");
    return unattended;
  }

  const base::TMsgDlgBtn preset = base::DefaultButton(buttons);
  while (true) {
    std::string choices;
    for (int b = base::mbYes; b <= base::mbHelp; ++b) {
      auto button = static_cast<base::TMsgDlgBtn>(b);
      if (!base::HasButton(buttons, button) || button == base::mbHelp) continue;
      if (!choices.empty()) choices += ", ";
      choices += PlainCaption(base::ButtonCaption(button));
      if (button == preset) choices += " (default)";
    }
    err_ << "  " << choices << "? " << std::flush;
    std::string answer;
    if (!std::getline(in_, answer)) {
      err_ << '\n';
      ShowAnswer(AnswerCaption(buttons, unattended), "end of input");
      return unattended;
    }
    while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
      answer.pop_back();
    if (answer.empty()) return base::ButtonResult(preset);
    const std::string wanted = Lower(answer);
    for (int b = base::mbYes; b <= base::mbHelp; ++b) {
      auto button = static_cast<base::TMsgDlgBtn>(b);
      if (!base::HasButton(buttons, button) || button == base::mbHelp) continue;
      char key;
      std::string plain = Lower(PlainCaption(base::ButtonCaption(button), &key));
      if (wanted == plain || (wanted.size() == 1 && wanted[0] == key))
        return base::ButtonResult(button);
    }
  }
}

bool TConsoleDialogs::InputQuery(const std::string& caption, const std::string& prompt,
                                 std::string& value) {
  Prepare();
  err_ << OneLine(caption) << ": " << OneLine(prompt) << std::endl;
  if (!interactive_) {
    ShowAnswer("Cancel", "unattended");
    return false;
  }
  err_ << "  (an empty line keeps \"" << base::EscapeControlCharacters(value)
       << "\"; end of input cancels) " << base::EscapeControlCharacters(prompt) << std::flush;
  std::string answer;
  if (!std::getline(in_, answer)) return false;
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  if (!answer.empty()) value = answer;
  return true;
}

void TConsoleDialogs::ShowError(const std::string& title, const std::string& message) {
  Prepare();
  err_ << OneLine(title) << ": " << OneLine(message) << std::endl;
}

}  // namespace krevo::app
