#include "base/ControlEscape.h"

namespace krevo::base {
namespace {

bool IsC0(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

// A C1 control in UTF-8: 0xC2 followed by 0x80-0x9F.
bool IsC1At(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]) == 0xC2 && i + 1 < text.size() &&
         static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
         static_cast<unsigned char>(text[i + 1]) <= 0x9F;
}

void AppendHex(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

}  // namespace

std::string EscapeControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (IsC0(c)) {
      AppendHex(out, c);
    } else if (IsC1At(text, i)) {
      AppendHex(out, c);
      AppendHex(out, static_cast<unsigned char>(text[++i]));
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string EscapeControlCharactersInLines(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  std::string out;
  out.reserve(text.size());
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (start != 0) out += '\n';
    out += EscapeControlCharacters(line);
    start = end + 1;
  }
  return out;
}

bool HasControlCharacters(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i)
    if (IsC0(static_cast<unsigned char>(text[i])) || IsC1At(text, i)) return true;
  return false;
}

std::string FailureText(const std::exception& failure) {
  // A reply's text comes from the server, and a socket error's reason
  // follows its number on a line of its own.
  std::string text = failure.what();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (std::size_t p; (p = text.find("\r\n")) != std::string::npos;) text.replace(p, 2, ": ");
  return EscapeControlCharacters(text);
}

}  // namespace krevo::base
