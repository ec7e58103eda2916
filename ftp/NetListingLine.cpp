#include "ftp/NetListingLine.h"

#include <array>
#include <charconv>
#include <vector>

namespace krevo::ftp {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Each permission place allows the letters ls writes there.
bool IsPermissions(std::string_view s) {
  if (s.size() == 11 && (s[10] == '+' || s[10] == '@' || s[10] == '.')) s.remove_suffix(1);
  if (s.size() != 10) return false;
  if (std::string_view("-dlbcpsD").find(s[0]) == std::string_view::npos) return false;
  static constexpr std::array<std::string_view, 9> kPlaces = {"r-",   "w-", "xsS-", "r-",  "w-",
                                                              "xsS-", "r-", "w-",   "xtT-"};
  for (std::size_t i = 0; i < 9; ++i)
    if (kPlaces[i].find(s[i + 1]) == std::string_view::npos) return false;
  return true;
}

bool IsMonth(std::string_view s) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  if (s.size() != 3) return false;
  char lower[3];
  for (std::size_t i = 0; i < 3; ++i)
    lower[i] = static_cast<char>(s[i] >= 'A' && s[i] <= 'Z' ? s[i] + 32 : s[i]);
  for (std::string_view m : kMonths)
    if (m == std::string_view(lower, 3)) return true;
  return false;
}

bool IsDay(std::string_view s) {
  if (!AllDigits(s) || s.size() > 2) return false;
  const int day = s.size() == 1 ? s[0] - '0' : (s[0] - '0') * 10 + (s[1] - '0');
  return day >= 1 && day <= 31;
}

bool IsTimeOrYear(std::string_view s) {
  if (s.size() == 4) return AllDigits(s);
  if (s.size() == 5 && s[2] == ':')
    return AllDigits(s.substr(0, 2)) && AllDigits(s.substr(3)) && s.substr(0, 2) < "24" &&
           s.substr(3) < "60";
  return false;
}

struct Token {
  std::string_view text;
  std::size_t end;  // offset just past the token in the line
};

}  // namespace

std::optional<TNetListingEntry> ParseUnixListingLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  // Most lines of another style fail at their first column: they are turned
  // away before anything is split or allocated.
  std::size_t first = 0;
  while (first < line.size() && IsBlank(line[first])) ++first;
  std::size_t firstEnd = first;
  while (firstEnd < line.size() && !IsBlank(line[firstEnd])) ++firstEnd;
  if (!IsPermissions(line.substr(first, firstEnd - first))) return std::nullopt;
  // The columns before the name: at most perms, links, owner, group, size,
  // month, day, time.
  std::vector<Token> tokens;
  tokens.reserve(8);
  std::size_t pos = 0;
  while (tokens.size() < 8) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos == line.size()) break;
    const std::size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    tokens.push_back({line.substr(start, pos - start), pos});
  }
  if (tokens.size() < 7 || !IsPermissions(tokens[0].text) || !AllDigits(tokens[1].text))
    return std::nullopt;
  // Size and date stand right after the owner (no group column) or after the
  // group; the first place where they fit wins.
  for (std::size_t size = 3; size <= 4; ++size) {
    if (size + 3 >= tokens.size()) break;
    const std::string_view sizeText = tokens[size].text;
    if (!AllDigits(sizeText) || sizeText.size() > 20 || !IsMonth(tokens[size + 1].text) ||
        !IsDay(tokens[size + 2].text) || !IsTimeOrYear(tokens[size + 3].text))
      continue;
    TNetListingEntry entry;
    auto [end, ec] =
        std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), entry.Size);
    if (ec != std::errc()) return std::nullopt;
    // One blank separates the date from the name; any further blank is the name's.
    const std::size_t nameStart = tokens[size + 3].end + 1;
    if (nameStart >= line.size()) return std::nullopt;
    entry.Type = tokens[0].text[0];
    entry.Name = std::string(line.substr(nameStart));
    return entry;
  }
  return std::nullopt;
}

}  // namespace krevo::ftp
