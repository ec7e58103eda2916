#pragma once
// The extraction of krevo-unzip: wires the archive component's events to the
// terminal (questions when standard input is one, fixed answers otherwise)
// and counts what failed or was skipped.
#include <string>
#include <vector>

#include "archive/ZipBaseArchiver.h"

namespace krevo::tools {

enum class TOverwrite { Always, Never, Prompt, Newer, Older };

struct TUnzipRequest {
  std::string folder = ".";
  TOverwrite overwrite = TOverwrite::Always;
  bool test = false;
  bool quiet = false;
};

// Extracts (or tests) the items at `indexes` of the open archive `zip`.
// Returns the number of items that failed or were skipped.
int ExtractItems(archive::TZipBaseArchiver& zip, const std::vector<int>& indexes,
                 const TUnzipRequest& request);

}  // namespace krevo::tools
