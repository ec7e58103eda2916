#include "app/sources/PackageListing.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "base/ControlEscape.h"
#include "base/Errors.h"
#include "ftp/NetListingLine.h"

namespace krevo::app {
namespace {

// Blanks and control characters, as the integer conversion trims them.
bool IsTrimmed(unsigned char c) {
  return c <= ' ';
}

}  // namespace

std::int64_t ListingSize(const std::string& line) {
  std::string text = line.size() > 29 ? line.substr(29, 10) : std::string();
  std::size_t b = 0, e = text.size();
  while (b < e && IsTrimmed(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && IsTrimmed(static_cast<unsigned char>(text[e - 1]))) --e;
  text = text.substr(b, e - b);
  std::int64_t value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;  // a sign is part of a decimal integer
  auto [end, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || end != last || (first != text.data() && *first == '-'))
    throw base::EConvertError("'" + text + "' is not a valid integer value");
  return value;
}

std::string ListingPackageName(const std::string& line) {
  return line.size() > 39 ? line.substr(39, 99) : std::string();
}

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c == '/' || c == '\\' || c < ' ' || c == 0x7F) return false;
  return true;
}

bool IsPackageName(const std::string& name) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  auto equalsIgnoringCase = [&](std::size_t at, const char* text) {
    for (std::size_t i = 0; text[i]; ++i)
      if (lower(name[at + i]) != text[i]) return false;
    return true;
  };
  constexpr std::size_t kShortest = 12;  // "up" YYMMDD ".zip"
  if (name.size() < kShortest || !equalsIgnoringCase(0, "up") ||
      !equalsIgnoringCase(name.size() - 4, ".zip"))
    return false;
  for (std::size_t i = 2; i < 8; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return IsPlainFileName(name) && !base::HasControlCharacters(name);
}

bool IsNewerThan(const std::string& packageName, base::TDateTime lastUpdate) {
  const std::string nameDate = packageName.size() > 2 ? packageName.substr(2, 6) : std::string();
  // std::string compares as unsigned bytes, a prefix first.
  return nameDate > base::FormatDateTime("YYMMDD", lastUpdate);
}

std::optional<TListedPackage> ReadListingLine(const std::string& line) {
  // A Unix line could by chance hold a name at column 40, an MS-DOS line never
  // starts with a permissions field: the Unix reading goes first.
  if (std::optional<ftp::TNetListingEntry> entry = ftp::ParseUnixListingLine(line)) {
    if (entry->Type != '-' || !IsPackageName(entry->Name)) return std::nullopt;
    return TListedPackage{std::move(entry->Name), entry->Size};
  }
  std::string name = ListingPackageName(line);
  if (!IsPackageName(name)) return std::nullopt;
  TListedPackage package{std::move(name), std::nullopt};
  try {
    package.Size = static_cast<std::uint64_t>(ListingSize(line));
  } catch (const base::EConvertError&) {
    // The size check then has nothing to compare with.
  }
  return package;
}

std::int64_t DownloadBarMaximum(const std::vector<std::string>& lines) {
  constexpr std::uint64_t kLargest = std::numeric_limits<std::int64_t>::max();
  for (const std::string& line : lines) {
    const std::optional<TListedPackage> package = ReadListingLine(line);
    if (!package) continue;
    if (!package->Size) return ListingSize(line);  // the designed error for a bad column
    return static_cast<std::int64_t>(std::min(*package->Size, kLargest));
  }
  return 0;
}

}  // namespace krevo::app
