#pragma once
// The packages that failed their health check on this installation and were
// rolled back, kept in the root folder as ".krevo-bad-packages": such a
// package is not taken again until the index gives its name other bytes.
// The file is replaced whole, never written in place.
//
//   krevo-bad-packages 1
//   bad up261208.zip <128 lowercase hex digits, or "-": not known>
#include <map>
#include <optional>
#include <string>

#include "base/Blake2b512.h"

namespace krevo::app {

inline constexpr const char* kBadPackagesName = ".krevo-bad-packages";

class TBadPackages final {
 public:
  // Whether `name` is bad: with the index's hash `indexHash`, when it was
  // marked bad with that hash; without an index (null), when it was marked
  // bad at all. A mark with no hash known counts only without an index.
  bool Holds(const std::string& name, const base::TBlake2b512::Digest* indexHash) const;
  // Marks `name`, installed with the bytes of hash `hash` (null: not known),
  // bad; an earlier mark of the name is replaced.
  void Add(const std::string& name, const base::TBlake2b512::Digest* hash);
  bool Empty() const { return bad_.empty(); }

  // The marks in the folder `rootFd` (borrowed); none when it holds no file.
  // Throws EIndexError when the file cannot be read, is not a regular file,
  // is larger than 1 MiB or is damaged: its loss would let a bad package in
  // again, so it is never passed over.
  static TBadPackages Load(int rootFd);
  // Replaces the file in the folder `rootFd` (borrowed) durably. Throws
  // EIndexError; the old file then stays.
  void Save(int rootFd) const;

 private:
  std::map<std::string, std::optional<base::TBlake2b512::Digest>> bad_;
};

}  // namespace krevo::app
