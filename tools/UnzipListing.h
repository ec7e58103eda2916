#pragma once
// The listing of krevo-unzip: the selected items as a readable table or as
// tab-separated lines.
#include <iosfwd>
#include <string>
#include <vector>

#include "archive/ZipBaseArchiver.h"

namespace krevo::tools {

// The indexes of the items that any of `masks` selects (search attributes
// 10431), in central-directory order. REQUIRES: the archive is open.
std::vector<int> SelectItems(archive::TZipBaseArchiver& zip, const std::vector<std::string>& masks);

// Writes the listing of `indexes`; `tsv` gives one tab-separated line per
// item. Names are written with control characters escaped.
void WriteListing(archive::TZipBaseArchiver& zip, const std::vector<int>& indexes, bool tsv,
                  std::ostream& out);

// "YYYY-MM-DD HH:MM:SS" of a DOS date-time; zeros when it names no real time.
std::string FormatDosDateTime(std::uint32_t dos);

}  // namespace krevo::tools
