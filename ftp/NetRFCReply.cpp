#include "ftp/NetRFCReply.h"

#include <limits>

#include "ftp/NetText.h"

namespace krevo::ftp {
namespace {

// The integer value of `s` (an optional sign and decimal digits, nothing
// else), or 0.
std::int32_t ToIntDef0(const std::string& s) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return 0;
  std::int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return 0;
    v = v * 10 + (s[i] - '0');
    if (v > std::numeric_limits<std::int32_t>::max()) return 0;
  }
  return static_cast<std::int32_t>(negative ? -v : v);
}

}  // namespace

void TNetRFCReply::SetNumericCode(std::int32_t code) {
  numericCode_ = code;
  if (code > 0) textCode_ = std::to_string(code);
}

void TNetRFCReply::SetTextCode(const std::string& code) {
  textCode_ = code;
  if (!code.empty()) numericCode_ = ToIntDef0(code);
}

void TNetRFCReply::Clear() {
  numericCode_ = 0;
  textCode_.clear();
  Text.Clear();
}

void TNetRFCReply::Assign(const TNetRFCReply& other) {
  numericCode_ = other.numericCode_;
  textCode_ = other.textCode_;
  Text.Clear();
  for (const auto& line : other.Text.Lines()) Text.Add(line);
}

void TNetRFCReply::ParseLines(const std::vector<std::string>& lines) {
  Clear();
  if (lines.empty()) return;
  std::string code = TrimBlanks(lines[0].substr(0, 4));
  if (code.size() == 4 && code[3] == '-') code.resize(3);
  SetTextCode(code);
  for (const auto& line : lines) Text.Add(line.size() > 4 ? line.substr(4) : std::string());
}

std::string TNetRFCReply::FormattedText() const {
  std::string message;
  for (const auto& line : Text.Lines()) message += line + "\r\n";
  return message;
}

}  // namespace krevo::ftp
