#include "app/trust/PackageIndex.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/sources/PackageListing.h"
#include "base/ControlEscape.h"

namespace krevo::app {
namespace {

constexpr std::string_view kHeader = "krevo-index 1";

[[noreturn]] void Malformed(std::size_t line, const std::string& why) {
  throw EIndexError("The package index is malformed: line " + std::to_string(line) + ": " + why +
                    ".");
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t space = line.find(' ');
    fields.push_back(line.substr(0, space));
    if (space == std::string_view::npos) return fields;
    line.remove_prefix(space + 1);
  }
}

// Decimal digits with no sign, no blank and no leading zero, so that each
// number has one spelling; nothing past `max`.
std::optional<std::uint64_t> Number(std::string_view text, std::uint64_t max) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  for (char c : text)
    if (c < '0' || c > '9') return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// "YYYY-MM-DDTHH:MM:SSZ", a real date and time of day (no leap second), as
// seconds since the epoch.
std::optional<std::time_t> Instant(std::string_view text) {
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < kShape.size(); ++i)
    if (kShape[i] != 'd' && text[i] != kShape[i]) return std::nullopt;
  const auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2),
             hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*year < 1970 || *month < 1 || *month > 12 || *day < 1 || *hour > 23 || *minute > 59 ||
      *second > 59)
    return std::nullopt;
  const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (*day > kDays[*month - 1] + (*month == 2 && leap)) return std::nullopt;
  const std::int64_t days =
      DaysFromCivil(*year, static_cast<unsigned>(*month), static_cast<unsigned>(*day));
  return static_cast<std::time_t>(days * 86400 + *hour * 3600 + *minute * 60 + *second);
}

bool IsChannelName(std::string_view text) {
  if (text.empty() || text.size() > 64) return false;
  for (char c : text)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
          c == '_' || c == '-'))
      return false;
  return true;
}

// What a field from the index becomes in a message: escaped, and cut short.
std::string Shown(std::string_view text) {
  constexpr std::size_t kShown = 100;
  std::string shown = base::EscapeControlCharacters(std::string(text.substr(0, kShown)));
  if (text.size() > kShown) shown += "...";
  return shown;
}

// The words of a package line past its hash (fields 4 on of `f`, which
// `line` holds): phase=P and revoked at most once each, then check=PATH and
// the rest of the line.
void ReadReleaseWords(std::string_view line, const std::vector<std::string_view>& f,
                      std::size_t number, TIndexedPackage& entry) {
  constexpr std::string_view kPhase = "phase=", kCheck = "check=";
  bool havePhase = false;
  for (std::size_t i = 4; i < f.size(); ++i) {
    const std::string_view w = f[i];
    if (w.starts_with(kPhase)) {
      if (havePhase) Malformed(number, "a second phase");
      const auto phase = Number(w.substr(kPhase.size()), kFullPhase);
      if (!phase) Malformed(number, "the phase " + Shown(w) + " is not a whole number 0-100");
      entry.Phase = static_cast<int>(*phase);
      havePhase = true;
    } else if (w == "revoked") {
      if (entry.Revoked) Malformed(number, "a second revoked");
      entry.Revoked = true;
    } else if (w.starts_with(kCheck)) {
      entry.CheckPath = std::string(w.substr(kCheck.size()));
      if (entry.CheckPath.empty()) Malformed(number, "the check names no program");
      // Fields point into the line: the arguments are what follows the path.
      const std::size_t rest = static_cast<std::size_t>(w.data() - line.data()) + w.size();
      if (rest < line.size()) {
        entry.CheckArguments = std::string(line.substr(rest + 1));
        if (entry.CheckArguments.empty()) Malformed(number, "a blank ends the check");
      }
      return;
    } else {
      Malformed(number, "the word " + Shown(w) + " after the hash is unknown");
    }
  }
}

}  // namespace

std::optional<base::TBlake2b512::Digest> ParseHashText(std::string_view text) {
  base::TBlake2b512::Digest hash{};
  if (text.size() != hash.size() * 2) return std::nullopt;
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < hash.size(); ++i) {
    const int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    hash[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return hash;
}

std::string HashText(const base::TBlake2b512::Digest& hash) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t b : hash) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

TPackageIndex ParsePackageIndex(std::string_view text) {
  if (text.size() > kMaxIndexSize)
    throw EIndexError("The package index is larger than " + std::to_string(kMaxIndexSize) +
                      " bytes.");
  if (text.empty()) Malformed(1, "it is empty");
  if (text.back() != '\n')
    Malformed(1 + std::count(text.begin(), text.end(), '\n'), "the last line does not end in LF");
  TPackageIndex index;
  bool haveSequence = false, haveExpires = false, haveChannel = false;
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    ++number;
    if (line.empty()) Malformed(number, "it is empty");
    if (line.find('\r') != std::string_view::npos) Malformed(number, "it holds a CR");
    if (line.find('\0') != std::string_view::npos) Malformed(number, "it holds a NUL");
    if (number == 1) {
      if (line != kHeader) Malformed(number, "it is not \"krevo-index 1\"");
      continue;
    }
    const std::vector<std::string_view> f = Fields(line);
    const std::string_view word = f[0];
    auto once = [&](bool& seen, std::size_t fields) {
      if (seen) Malformed(number, "a second " + std::string(word) + " line");
      if (f.size() != fields)
        Malformed(number, "it does not hold " + std::to_string(fields) +
                              " fields separated by single spaces");
      seen = true;
    };
    if (word == "sequence") {
      once(haveSequence, 2);
      const auto sequence = Number(f[1], UINT64_MAX);
      if (!sequence) Malformed(number, "the sequence " + Shown(f[1]) + " is not a whole number");
      index.Sequence = *sequence;
    } else if (word == "expires") {
      once(haveExpires, 2);
      const auto at = Instant(f[1]);
      if (!at) Malformed(number, "the date " + Shown(f[1]) + " is not YYYY-MM-DDTHH:MM:SSZ");
      index.Expires = std::string(f[1]);
      index.ExpiresAt = *at;
    } else if (word == "channel") {
      once(haveChannel, 2);
      if (!IsChannelName(f[1])) Malformed(number, "the channel " + Shown(f[1]) + " is no name");
      index.Channel = std::string(f[1]);
    } else if (word == "package") {
      if (f.size() < 4) Malformed(number, "it does not hold 4 fields separated by single spaces");
      const std::string name(f[1]);
      if (!IsPackageName(name) || name.size() > kMaxIndexedNameLength)
        Malformed(number, Shown(name) + " is no package name");
      const auto size = Number(f[2], kMaxIndexedSize);
      if (!size)
        Malformed(number,
                  "the size " + Shown(f[2]) + " is not a whole number of 10 digits at most");
      const auto hash = ParseHashText(f[3]);
      if (!hash) Malformed(number, "the hash is not 128 lowercase hex digits");
      TIndexedPackage entry;
      entry.Size = *size;
      entry.Hash = *hash;
      ReadReleaseWords(line, f, number, entry);
      if (!index.Packages.emplace(name, std::move(entry)).second)
        Malformed(number, name + " is listed twice");
    } else {
      Malformed(number, "it starts with the unknown word " + Shown(word));
    }
  }
  if (!haveSequence) Malformed(number, "there is no sequence line");
  if (!haveExpires) Malformed(number, "there is no expires line");
  if (!haveChannel) Malformed(number, "there is no channel line");
  return index;
}

}  // namespace krevo::app
