#pragma once
// The host services the archive component needs beyond base/: removable
// media, letter-case-insensitive volume names and the available memory.
#include <cstdint>
#include <string>

namespace krevo::archive {

// True when `path` (or, while it does not exist, its nearest existing parent
// folder) lies below /media or /run/media, or on a file system mounted from a
// block device that /sys reports removable.
bool IsRemovablePath(const std::string& path);

// `path` when it exists; otherwise the one entry of its folder whose name
// differs from it only in ASCII letter case (the first in folder order), or
// `path` unchanged when there is none.
std::string ResolveLetterCase(const std::string& path);

// MemAvailable from /proc/meminfo in bytes; sysinfo's free RAM as fallback.
std::uint64_t AvailablePhysicalMemory();

}  // namespace krevo::archive
