// Reads and filters a listing of 100,000 lines the way the download run does
// (ReadListingLine, then the date filter), for an MS-DOS and a Unix listing,
// and the MS-DOS listing once more by its fixed columns alone, the reading
// the updater had before it knew Unix lines. Prints the median of RUNS runs
// of each in milliseconds.
//   listing-parse-bench [RUNS] [LINES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/sources/PackageListing.h"
#include "base/DateTime.h"
#include "base/Errors.h"

namespace {

using krevo::app::IsNewerThan;
using krevo::app::IsPackageName;
using krevo::app::ListingPackageName;
using krevo::app::ListingSize;
using krevo::app::ReadListingLine;

std::string Date(int i) {
  char text[7];
  std::snprintf(text, sizeof text, "%02d%02d%02d", i % 100, i % 12 + 1, i % 28 + 1);
  return text;
}

// Every tenth line names no package, as a folder's other files would.
std::string Name(int i) {
  return i % 10 == 9 ? "notes" + std::to_string(i) + ".txt" : "up" + Date(i) + ".zip";
}

std::vector<std::string> DosListing(int lines) {
  std::vector<std::string> out;
  for (int i = 0; i < lines; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "12-09-26  03:30AM %20d ", 1000 + i * 37);
    out.push_back(line + Name(i));
  }
  return out;
}

std::vector<std::string> UnixListing(int lines) {
  std::vector<std::string> out;
  for (int i = 0; i < lines; ++i) {
    char line[80];
    std::snprintf(line, sizeof line, "-rw-r--r--    1 0        0        %10d Dec %2d  2025 ",
                  1000 + i * 37, i % 28 + 1);
    out.push_back(line + Name(i));
  }
  return out;
}

// What the loop keeps: the lines that offer a package newer than `last`.
std::size_t Filter(const std::vector<std::string>& listing, krevo::base::TDateTime last) {
  std::size_t taken = 0;
  for (const std::string& line : listing) {
    const auto package = ReadListingLine(line);
    if (package && IsNewerThan(package->Name, last)) ++taken;
  }
  return taken;
}

// The fixed columns alone.
std::size_t FilterByColumns(const std::vector<std::string>& listing, krevo::base::TDateTime last) {
  std::size_t taken = 0;
  for (const std::string& line : listing) {
    const std::string name = ListingPackageName(line);
    if (!IsPackageName(name) || !IsNewerThan(name, last)) continue;
    try {
      if (ListingSize(line) >= 0) ++taken;
    } catch (const krevo::base::EConvertError&) {
    }
  }
  return taken;
}

template <typename F>
double MedianMs(int runs, F run, std::size_t& result) {
  std::vector<double> ms;
  for (int r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    result = run();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  const int lines = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100000;
  const krevo::base::TDateTime last = krevo::base::EncodeDate(2050, 6, 15);
  const std::vector<std::string> dos = DosListing(lines), unix = UnixListing(lines);
  std::size_t taken = 0;
  const double dosMs = MedianMs(
      runs, [&] { return Filter(dos, last); }, taken);
  std::printf("MS-DOS listing, both readings: %8.2f ms (%zu of %d lines taken)\n", dosMs, taken,
              lines);
  const double columnsMs = MedianMs(
      runs, [&] { return FilterByColumns(dos, last); }, taken);
  std::printf("MS-DOS listing, columns only:  %8.2f ms (%zu of %d lines taken)\n", columnsMs, taken,
              lines);
  const double unixMs = MedianMs(
      runs, [&] { return Filter(unix, last); }, taken);
  std::printf("Unix listing:                  %8.2f ms (%zu of %d lines taken)\n", unixMs, taken,
              lines);
  return 0;
}
