#pragma once
// The folders one batch creates, and the modes and times their own entries
// store. Writing a file into a folder changes the folder's time, and a
// folder stored without write permission could not be filled: so both are
// given once the batch has written everything, deepest folder first.
// Only folders this batch created are touched; a folder that was there
// before keeps its mode and time.
#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace krevo::archive {

class TZipFolderStamps final {
 public:
  TZipFolderStamps() = default;
  // Gives what was recorded and not yet given (see Apply).
  ~TZipFolderStamps();
  TZipFolderStamps(const TZipFolderStamps&) = delete;
  TZipFolderStamps& operator=(const TZipFolderStamps&) = delete;

  // Records that this batch created the folder `path` (just now: the folder
  // found there now is the one created).
  void Created(const std::string& path);
  // The same with the status of the folder created, taken through its own
  // descriptor (its path may lead elsewhere by now).
  void Created(const std::string& path, const struct stat& st);
  // Asks for the folder `path` to get the permission bits of `mode` (0777 at
  // most) less the process umask, and the modification time `modified`;
  // either may be absent. Ignored when this batch did not create the folder.
  void Stamp(const std::string& path, std::optional<unsigned> mode,
             std::optional<struct timespec> modified);
  // Gives every stamped folder its mode and time, deepest first, through a
  // descriptor of the folder opened without following a link at its name
  // and only when it is still the folder this batch created. Never throws.
  void Apply() noexcept;

 private:
  struct Identity {
    dev_t dev;
    ino_t ino;
  };
  struct Pending {
    std::string path;
    Identity id;
    std::optional<unsigned> mode;
    std::optional<struct timespec> modified;
  };
  static std::string Key(const std::string& path);

  std::unordered_map<std::string, Identity> created_;
  std::vector<Pending> pending_;
};

}  // namespace krevo::archive
