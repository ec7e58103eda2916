#pragma once
// File and folder services of the host. The delete and create operations
// never throw; their results may be ignored.
#include <cstdint>
#include <optional>
#include <string>

#include "base/FileDescriptor.h"

namespace krevo::base {

// Attribute bits of a file search filter.
enum : int {
  faReadOnly = 1,
  faHidden = 2,
  faSysFile = 4,
  faVolumeID = 8,
  faDirectory = 16,
  faArchive = 32,
  faAnyFile = 63,
  faNormal = 128,
  faCompressed = 2048,
  faNotContentIndexed = 8192,
  // Every entry of an archive, folders included, whatever its attributes.
  faAnyEntry = faAnyFile | faNormal | faCompressed | faNotContentIndexed,
  // Any file but a folder.
  faAnyFileButFolder = faAnyFile & ~faDirectory,
};
static_assert(faAnyEntry == 10431 && faAnyFileButFolder == 47);

// True when `path` names something that is not a folder.
bool FileExists(const std::string& path);

// The file's last-write time as a local DOS date-time; nullopt when the file is
// missing, is a folder, or its date lies outside what the format can hold
// (1980-2107).
std::optional<std::uint32_t> FileAge(const std::string& path);

// Searches for `path` with an attribute filter: a folder matches only when the
// filter holds faDirectory, a hidden file (name starting with '.') only when it
// holds faHidden. Returns the match's last-write time as a local DOS date-time,
// nullopt when nothing matches or the date cannot be held.
std::optional<std::uint32_t> FindFileDate(const std::string& path, int attributeFilter);

// The folder `path` (empty: the working folder), opened for the *at calls;
// an empty descriptor, errno set, when it cannot be. Never throws.
UniqueFd OpenFolder(const std::string& path);

// True when `path` names an existing folder.
bool DirectoryExists(const std::string& path);

// Creates one folder level; false on failure.
bool CreateDir(const std::string& path);

// Deletes a file; false on failure (a missing file included).
bool DeleteFile(const std::string& path);

// The exclusive-access test: true only when the existing file could be opened
// for writing while no other process has it open or is running it. The file
// is closed again before returning; nothing is written.
bool ExclusiveOpenTest(const std::string& path);

}  // namespace krevo::base
