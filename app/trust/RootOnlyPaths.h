#pragma once
// A run as root trusts what it reads and writes below the installation: the
// program itself, config.ini, the key and CA files, the root folder. Any of
// them, or a folder on the way to it, that another user may change would let
// that user choose the server, drop the key or have root write where they
// cannot.
#include <string>

#include "base/Errors.h"

namespace krevo::app {

// A path that a run as root must not trust.
class EUnsafePath final : public base::Exception {
 public:
  using Exception::Exception;
};

// Throws EUnsafePath when `path`, or a folder on the way to it, may be
// changed by a user other than root: it is not owned by root, or its group
// or others may write it. A folder above `path` that has the sticky bit (such
// as /tmp) may be writable by all, since nobody can then move or replace what
// root has in it. Every symbolic link met on the way is followed, and the
// folder that holds it is checked as well; a part of the path that does not
// exist ends the walk (the folder it would be made in was checked). A
// relative `path` starts at the current folder. The message names the path,
// its owner and its mode. Reads the file system only; never throws anything
// else but std::bad_alloc.
void CheckOnlyRootCanChange(const std::string& path);

// Whether the run must make those checks: the effective user is root.
bool RunningAsRoot();

}  // namespace krevo::app
