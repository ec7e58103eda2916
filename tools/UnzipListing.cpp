#include "tools/UnzipListing.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ostream>

#include "archive/ZipDirManager.h"
#include "base/ControlEscape.h"

namespace krevo::tools {

using archive::TDirItem;

std::vector<int> SelectItems(archive::TZipBaseArchiver& zip,
                             const std::vector<std::string>& masks) {
  std::vector<int> chosen;
  for (const std::string& mask : masks) {
    archive::TZipArchiveItem item;
    for (bool f = zip.FindFirstEntry(mask, item, 10431); f; f = zip.FindNextEntry(item))
      chosen.push_back(item.SearchState.index);
  }
  std::sort(chosen.begin(), chosen.end());
  chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
  return chosen;
}

namespace {

void AppendNumber(std::string& out, std::uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void AppendHex8(std::string& out, std::uint32_t v) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = 28; shift >= 0; shift -= 4) out += kDigits[(v >> shift) & 15];
}

}  // namespace

std::string FormatDosDateTime(std::uint32_t dos) {
  int year = 1980 + static_cast<int>(dos >> 25), month = (dos >> 21) & 15, day = (dos >> 16) & 31;
  int hour = (dos >> 11) & 31, minute = (dos >> 5) & 63, second = (dos & 31) * 2;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  bool valid = month >= 1 && month <= 12 && day >= 1 &&
               day <= kDays[month - 1] + (month == 2 && leap) && hour < 24 && minute < 60 &&
               second < 60;
  if (!valid) return "0000-00-00 00:00:00";
  char buf[20] = "0000-00-00 00:00:00";
  auto put = [&](int at, int width, int v) {
    for (int i = width - 1; i >= 0; --i, v /= 10) buf[at + i] = static_cast<char>('0' + v % 10);
  };
  put(0, 4, year), put(5, 2, month), put(8, 2, day), put(11, 2, hour), put(14, 2, minute),
      put(17, 2, second);
  return buf;
}

void WriteListing(archive::TZipBaseArchiver& zip, const std::vector<int>& indexes, bool tsv,
                  std::ostream& out) {
  archive::TZipDirArray& items = zip.DirManager()->Items();
  char line[512];
  if (!tsv) {
    out << "      Size     Packed Ratio Date       Time     CRC-32   Attr     E Name\n"
        << "---------- ---------- ----- ---------- -------- -------- -------- - ----\n";
  }
  std::uint64_t totalSize = 0, totalPacked = 0;
  std::string tsvBuffer;
  for (int i : indexes) {
    const TDirItem& d = items.ItemPtr(i);
    std::uint64_t size = d.UncompressedSize(), packed = d.CompressedSize();
    std::string when = FormatDosDateTime(d.DosDateTime());
    char mark = (d.header.flags & 1) ? 'E' : '-';
    if (tsv) {
      // Large listings are written without printf: this is their hot loop.
      std::string& b = tsvBuffer;
      AppendNumber(b, size);
      b += '\t';
      AppendNumber(b, packed);
      b += '\t';
      b += when;
      b += '\t';
      AppendHex8(b, d.header.crc);
      b += '\t';
      AppendHex8(b, d.header.externalAttributes);
      b += '\t';
      b += mark;
      b += '\t';
      if (base::HasControlCharacters(d.name))
        b += base::EscapeControlCharacters(d.name);
      else
        b += d.name;
      b += '\n';
      if (b.size() > 65536) out << b, b.clear();
    } else {
      double ratio = size == 0 ? 0 : std::max(0.0, (1.0 - double(packed) / double(size)) * 100);
      std::snprintf(line, sizeof line, "%10llu %10llu %4.0f%% %s %08x %08x %c ",
                    static_cast<unsigned long long>(size), static_cast<unsigned long long>(packed),
                    ratio, when.c_str(), d.header.crc, d.header.externalAttributes, mark);
      out << line << base::EscapeControlCharacters(d.name) << '\n';
    }
    totalSize += size;
    totalPacked += packed;
  }
  out << tsvBuffer;
  if (!tsv) {
    double ratio = totalSize == 0 ? 0 : std::max(0.0, (1.0 - double(totalPacked) / totalSize) * 100);
    std::snprintf(line, sizeof line,
                  "---------- ---------- -----\n%10llu %10llu %4.0f%% %zu item%s\n",
                  static_cast<unsigned long long>(totalSize),
                  static_cast<unsigned long long>(totalPacked), ratio, indexes.size(),
                  indexes.size() == 1 ? "" : "s");
    out << line;
  }
}

}  // namespace krevo::tools
