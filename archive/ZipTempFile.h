#pragma once
// A new file beside a destination that takes an entry's data and replaces
// the destination only when committed; otherwise it is removed when the
// object goes, and the destination stays as it was. A new destination is
// written as a file without a name, linked under the destination's name only
// when committed: a process killed half way leaves nothing behind, never a
// partial file that a later run would take for an installed one. Every name
// is taken relative to a descriptor of the destination's folder, so that
// nothing is created, replaced or removed through a link in its path.
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "base/FileDescriptor.h"
#include "base/Streams.h"

namespace krevo::archive {

class TZipTempFile final {
 public:
  // Creates the file in the open folder `folder` (borrowed: the object keeps
  // a copy of the descriptor) that is to hold it as `name` (no '/'), with
  // the permission bits of `mode` (0777 at most) less the process umask,
  // which are its final ones; `destinationExists` says whether something is
  // there already. `destination` is the path shown in messages (and of the
  // old file the remover takes away). Throws base::EFCreateError when the
  // file cannot be created.
  TZipTempFile(int folder, const std::string& name, const std::string& destination,
               bool destinationExists, unsigned mode);
  // Takes a file that someone else made for the entry and puts in place
  // (`staged`, owned from here on; its descriptor is closed at Commit):
  // Commit only closes it, and nothing is removed.
  TZipTempFile(base::UniqueFd staged, const std::string& destination);
  ~TZipTempFile();
  TZipTempFile(const TZipTempFile&) = delete;
  TZipTempFile& operator=(const TZipTempFile&) = delete;

  base::TStream& Stream();
  // The last-write time (none: left alone) and, when asked, a flush to the
  // medium, both through the descriptor. Never throws.
  void Finish(std::optional<struct timespec> modified, bool flush) noexcept;
  // Puts the file under the destination's name (over what is there); false
  // when that fails (the file is then removed).
  bool Commit();

 private:
  class FdStream;
  base::UniqueFd folder_;
  std::string name_;
  std::string destination_;
  std::string temporary_;  // its name in the folder; empty while it has none
  std::unique_ptr<FdStream> stream_;
  bool committed_ = false;
  bool adopted_ = false;
};

}  // namespace krevo::archive
