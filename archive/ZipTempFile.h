#pragma once
// A new file beside a destination that takes an entry's data and replaces
// the destination only when committed; otherwise it is removed when the
// object goes, and the destination stays as it was. Where no destination
// exists yet the file is created under the destination's own name (it
// cannot then replace anything), which saves the rename.
#include <cstdint>
#include <memory>
#include <string>

#include "base/Streams.h"

namespace krevo::archive {

class TZipTempFile final {
 public:
  // Creates the file in `destination`'s folder with the permission bits
  // `mode` (less the umask); `destinationExists` says whether something is
  // there already. Throws base::EFCreateError when it cannot be created.
  TZipTempFile(const std::string& destination, bool destinationExists, unsigned mode);
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
