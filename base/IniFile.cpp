#include "base/IniFile.h"

#include <strings.h>

#include <fstream>
#include <sstream>

namespace krevo::base {
namespace {

constexpr std::size_t kMaxValue = 2047;

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

}  // namespace

std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return defaultValue;
  std::ostringstream content;
  content << in.rdbuf();
  return in.bad() ? defaultValue : ProfileStringFromText(content.str(), section, key, defaultValue);
}

std::string ProfileStringFromText(const std::string& content, const std::string& section,
                                  const std::string& key, const std::string& defaultValue) {
  std::string text = content;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);

  std::istringstream lines(text);
  std::string line;
  bool inSection = false, sectionSeen = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[') {
      std::size_t close = t.find(']');
      std::string name =
          Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      // Only the first section of a name counts.
      if (inSection) return defaultValue;
      inSection = !sectionSeen && SameName(name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    std::size_t eq = t.find('=');
    if (eq == std::string::npos || !SameName(Trim(t.substr(0, eq)), key)) continue;
    std::string value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (value.size() > kMaxValue) value.resize(kMaxValue);
    return value;
  }
  return defaultValue;
}

}  // namespace krevo::base
