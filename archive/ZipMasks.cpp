#include "archive/ZipMasks.h"

#include <vector>

#include "archive/ZipCollation.h"

namespace krevo::archive {
namespace {

// Malformed bytes become values above the code point range, so they only
// ever equal themselves.
constexpr char32_t kRawByte = 0x110000;

std::vector<char32_t> Decode(const std::string& s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char b = p[i];
    int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = len > 0 && i + static_cast<std::size_t>(len) <= n;
    for (int k = 1; ok && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (ok && len > 1) {
      static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
      ok = cp >= kMin[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    }
    if (ok) {
      out.push_back(cp);
      i += static_cast<std::size_t>(len);
    } else {
      out.push_back(kRawByte + b);
      ++i;
    }
  }
  return out;
}

class Matcher {
 public:
  Matcher(const std::vector<char32_t>& n, const std::vector<char32_t>& p, bool ignoreCase)
      : n_(n), p_(p), ignoreCase_(ignoreCase) {
    std::size_t stars = 0;
    for (char32_t c : p_) stars += c == '*';
    // Several stars can revisit the same state exponentially often; a table
    // of states known to fail keeps the match polynomial.
    if (stars > 1) failed_.assign((n_.size() + 1) * (p_.size() + 1), false);
  }

  bool Match(std::size_t n, std::size_t p) {
    while (true) {
      if (p + 1 == p_.size() && p_[p] == '*') return true;
      if (n == n_.size()) return p == p_.size();
      if (p == p_.size()) return false;
      char32_t pc = p_[p];
      if (pc == '*') {
        if (!failed_.empty() && failed_[n * (p_.size() + 1) + p]) return false;
        for (std::size_t j = n; j < n_.size(); ++j)
          if (Match(j, p + 1)) return true;
        if (!failed_.empty()) failed_[n * (p_.size() + 1) + p] = true;
        return false;
      }
      if (pc != '?' && !SameChar(n_[n], pc, ignoreCase_)) return false;
      ++n;
      ++p;
    }
  }

 private:
  const std::vector<char32_t>& n_;
  const std::vector<char32_t>& p_;
  bool ignoreCase_;
  std::vector<bool> failed_;
};

bool HasNoExtension(const std::string& name) {
  std::size_t dot = name.find_last_of(".\\/:");
  if (dot == std::string::npos || name[dot] != '.') return true;
  return dot + 1 == name.size();
}

}  // namespace

std::u32string MatchKey(const std::string& s) {
  const TZipCollation& c = TZipCollation::Instance();
  std::u32string key;
  for (char32_t ch : Decode(s)) key += ch >= kRawByte ? ch : c.Upper(ch);
  return key;
}

std::pair<std::u32string, std::u32string> ItemMatchKeys(const std::string& storedName) {
  std::string name = storedName;
  if (!name.empty() && (name.back() == '/' || name.back() == '\\')) name.pop_back();
  const std::size_t sep = name.find_last_of("/\\");
  auto subject = [](std::string s) {
    if (!s.empty() && s.back() == '.') s.pop_back();
    return MatchKey(s);
  };
  if (sep == std::string::npos) return {subject(name), std::u32string()};
  return {subject(name), subject(name.substr(sep + 1))};
}

bool WildcardMatch(const std::string& name, const std::string& pattern, bool ignoreCase) {
  if (pattern == "*.*") return true;
  std::vector<char32_t> n = Decode(name), p = Decode(pattern);
  Matcher m(n, p, ignoreCase);
  return m.Match(0, 0);
}

bool MatchesMask(const std::string& name, const std::string& mask) {
  if (mask.empty()) return false;
  std::string pattern = mask;
  std::size_t all = pattern.find("*.*");
  if (all != std::string::npos) pattern = mask.substr(0, all) + "*" + mask.substr(all + 3);
  bool dotted = mask.back() == '.';
  if (dotted) pattern.pop_back();
  std::string subject = name;
  if (!subject.empty() && subject.back() == '.') subject.pop_back();
  bool result = WildcardMatch(subject, pattern, true);
  if (result && dotted) result = HasNoExtension(name);
  return result;
}

bool MatchItem(const std::string& storedName, const TInternalSearchRec& search) {
  // "*.*" and "*" match every name: the common case needs no comparison.
  if ((search.mask == "*.*" || search.mask == "*") && search.exclusionMask.empty()) return true;
  std::string name = storedName;
  if (!name.empty() && (name.back() == '/' || name.back() == '\\')) name.pop_back();
  std::size_t sep = name.find_last_of("/\\");
  std::string own = sep == std::string::npos ? name : name.substr(sep + 1);
  auto matches = [&](const std::string& mask) {
    return MatchesMask(name, mask) || (sep != std::string::npos && MatchesMask(own, mask));
  };
  if (!matches(search.mask)) return false;
  return search.exclusionMask.empty() || !matches(search.exclusionMask);
}

}  // namespace krevo::archive
