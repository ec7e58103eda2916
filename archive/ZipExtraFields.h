#pragma once
// What an entry's extra blocks and version-made-by tell beyond the fixed
// header: the true name of an entry made outside Windows and the true
// modification time. Every function reads only the bytes the blocks hold;
// a block that is short or inconsistent is ignored, never trusted in part.
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ZipTypes.h"

namespace krevo::archive {

// The blocks of an extra field of `size` bytes, in order: a header ID and a
// declared size, then the data, cut to the bytes that remain when it
// declares more; fewer than 4 bytes left end the field.
std::vector<TExtraBlock> ParseExtraBlocks(const std::uint8_t* data, std::size_t size);

// Whether `text` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF, no zero byte.
bool IsValidUtf8(std::string_view text);

// Whether the high byte of version-made-by names a DOS or Windows file
// system (0 FAT, 11 NTFS, 14 VFAT): such names are in the OEM code page.
bool MadeOnWindows(std::uint16_t versionMadeBy);

// The UTF-8 name of a Unicode Path block (0x7075, version 1) whose CRC-32
// matches `storedName` (the name bytes exactly as stored); nothing when
// there is none, it does not match, or its name is not valid UTF-8.
std::optional<std::string> UnicodePathName(const std::vector<TExtraBlock>& extra,
                                           std::string_view storedName);

// The entry's modification time: the extended timestamp (0x5455, UTC
// seconds) when present, else the older Unix block of the same tools
// (0x5855, UTC seconds), else the NTFS block (0x000A, 100-ns ticks since
// 1601 UTC), else the DOS date-time taken as local time, a DOS date of 0
// counting as 1980-01-01 00:00. Nothing for an impossible DOS date-time.
// This is the time given to extracted files and folders only; the item's
// DosDate and DosTime, and so the overwrite comparisons, stay the stored
// DOS date-time.
std::optional<struct timespec> ModificationTime(const TDirItem& item);

}  // namespace krevo::archive
