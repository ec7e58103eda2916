#pragma once
// A new file beside a destination that takes an entry's data and replaces
// the destination only when committed; otherwise it is removed when the
// object goes, and the destination stays as it was. A new destination goes
// through a temporary file too: a process killed half way must not leave a
// partial file under the destination's name, which a later run would take
// for an installed one.
#include <cstdint>
#include <memory>
#include <string>

#include "base/Streams.h"

namespace krevo::archive {

class TZipTempFile final {
 public:
  // Creates the file in `destination`'s folder with the permission bits
  // `mode` (less the umask). Throws base::EFCreateError when it cannot be
  // created.
  TZipTempFile(const std::string& destination, unsigned mode);
  ~TZipTempFile();
  TZipTempFile(const TZipTempFile&) = delete;
  TZipTempFile& operator=(const TZipTempFile&) = delete;

  base::TStream& Stream();
  // Permission bits exactly (where the umask took some away), the
  // last-write time (a local DOS date-time; an impossible one is left alone)
  // and, when asked, a flush to the medium. Never throws.
  void Finish(std::uint32_t dosDateTime, bool flush) noexcept;
  // Renames the file over the destination; false when that fails (the file
  // is then removed).
  bool Commit();
  const std::string& Path() const { return path_; }

 private:
  class FdStream;
  std::string destination_;
  std::string path_;
  std::unique_ptr<FdStream> stream_;
  bool committed_ = false;
  unsigned mode_;
};

}  // namespace krevo::archive
