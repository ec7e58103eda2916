#include "tools/UnzipListing.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <set>

#include "archive/ZipDirManager.h"

namespace krevo::tools {

using archive::TDirItem;

std::vector<int> SelectItems(archive::TZipBaseArchiver& zip,
                             const std::vector<std::string>& masks) {
  std::set<int> chosen;
  for (const std::string& mask : masks) {
    archive::TZipArchiveItem item;
    for (bool f = zip.FindFirstEntry(mask, item, 10431); f; f = zip.FindNextEntry(item))
      chosen.insert(item.SearchState.index);
  }
  return {chosen.begin(), chosen.end()};
}

std::string FormatDosDateTime(std::uint32_t dos) {
  int year = 1980 + static_cast<int>(dos >> 25), month = (dos >> 21) & 15, day = (dos >> 16) & 31;
  int hour = (dos >> 11) & 31, minute = (dos >> 5) & 63, second = (dos & 31) * 2;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  bool valid = month >= 1 && month <= 12 && day >= 1 &&
               day <= kDays[month - 1] + (month == 2 && leap) && hour < 24 && minute < 60 &&
               second < 60;
  if (!valid) return "0000-00-00 00:00:00";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute,
                second);
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
  for (int i : indexes) {
    const TDirItem& d = items.ItemPtr(i);
    std::uint64_t size = d.UncompressedSize(), packed = d.CompressedSize();
    std::string when = FormatDosDateTime(d.DosDateTime());
    char mark = (d.header.flags & 1) ? 'E' : '-';
    if (tsv) {
      std::snprintf(line, sizeof line, "%llu\t%llu\t%s\t%08x\t%08x\t%c\t",
                    static_cast<unsigned long long>(size), static_cast<unsigned long long>(packed),
                    when.c_str(), d.header.crc, d.header.externalAttributes, mark);
    } else {
      double ratio = size == 0 ? 0 : std::max(0.0, (1.0 - double(packed) / double(size)) * 100);
      std::snprintf(line, sizeof line, "%10llu %10llu %4.0f%% %s %08x %08x %c ",
                    static_cast<unsigned long long>(size), static_cast<unsigned long long>(packed),
                    ratio, when.c_str(), d.header.crc, d.header.externalAttributes, mark);
    }
    out << line << d.name << '\n';
    totalSize += size;
    totalPacked += packed;
  }
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
