#pragma once
// The folders of an extraction, reached from a descriptor of the base folder
// without following a symbolic link anywhere below it: a link that someone
// plants in a folder they can write, below a base that a more privileged
// process extracts into, leads nowhere.
#include <sys/stat.h>

#include <functional>
#include <string>

#include "base/FileDescriptor.h"

namespace krevo::base {

// Called with a folder's path below the base (the part of the path asked for
// up to its name) and the status of the folder just created there, through
// its own descriptor.
using TFolderCreated = std::function<void(const std::string& relative, const struct stat& st)>;

// Opens the folder `relative` ('/' separators, empty or "." for the base
// itself) below the open folder `base` (borrowed) for use with the *at calls,
// creating the missing folders (mode 0777 less the umask) when `create`; each
// folder created is reported to `created` (may be empty). Never follows a
// link at any component below the base, never goes above it (a ".."
// component fails). Returns the folder's descriptor, or an empty one with
// errno set: ELOOP, ENOTDIR or EXDEV when a component is a link, not a
// folder, or "..". Uses openat2 where the kernel has it, a walk component
// by component with O_NOFOLLOW elsewhere (and to create folders). Never
// throws but for bad_alloc.
UniqueFd OpenFolderBeneath(int base, const std::string& relative, bool create,
                           const TFolderCreated& created);

// With false, the walk serves alone; with true (the default), openat2 first
// where the kernel has it. For tests; not thread-safe.
void UseOpenat2(bool use);

}  // namespace krevo::base
