#pragma once
// Whether an installed file may be replaced by its packaged copy.
#include <cstdint>
#include <optional>

namespace krevo::app {

// True only when the packaged copy is newer than the installed file, both
// given as local DOS date-times. A missing archive date keeps the file; a
// missing file date (the file could not be found) replaces it. Throws
// EConvertError for a date or time that is not a calendar value.
bool PackagedCopyIsNewer(std::optional<std::uint32_t> archiveDate,
                         std::optional<std::uint32_t> fileDate);

}  // namespace krevo::app
