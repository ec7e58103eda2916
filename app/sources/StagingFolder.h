#pragma once
// The private folder that downloaded packages are written to: below the
// system's temporary folder, which every local user may write, a folder that
// only this user can enter. Files in it are made relative to the folder's
// descriptor and never reached by name again, so nobody can plant a link, a
// pipe or a folder in the way of a download or swap the file while it is read.
#include <cstdint>
#include <set>
#include <string>

#include "base/Errors.h"
#include "base/FileDescriptor.h"

namespace krevo::app {

// The staging folder's file system cannot take a download.
class EStagingFull final : public base::Exception {
 public:
  using base::Exception::Exception;
};

class TStagingFolder final {
 public:
  // Opens `temporaryFolder` + "krevo-updater-<euid>", making it 0700 when it
  // is missing. It is used only when, opened without following a link, it is
  // a real folder owned by the effective user with mode exactly 0700; anything
  // else there is left alone, and a fresh folder "krevo-updater-<euid>.XXXXXX"
  // (mkdtemp) is made and used instead. `temporaryFolder` ends in '/'. Throws
  // base::EFCreateError when no private folder can be made.
  explicit TStagingFolder(const std::string& temporaryFolder);
  // The usual folder keeps its packages for the next run, as a temporary
  // copy always stayed; a fresh folder, which no later run finds, is removed
  // with the files made in it.
  ~TStagingFolder();
  TStagingFolder(const TStagingFolder&) = delete;
  TStagingFolder& operator=(const TStagingFolder&) = delete;

  // The folder's path, ending in '/': for messages, never opened again.
  const std::string& Path() const { return path_; }

  // Creates the file `name` (a plain file name) in the folder for reading and
  // writing, mode 0600, after removing an old entry of that name and its
  // partial mark: created
  // with O_EXCL and O_NOFOLLOW, so it is always a new file of ours. Returns
  // its descriptor, owned by the caller. Throws base::EFCreateError.
  base::UniqueFd CreateFile(const std::string& name) const;
  // Removes the file `name` (a plain file name) from the folder, if it is
  // there, with its partial mark; a descriptor still open on it stays
  // usable. Never throws.
  void Remove(const std::string& name) const;

  // A download that did not complete can be resumed by a later run, when
  // what the server offers is still the same: `stamp` says what (the listed
  // size and the server's time of the file).
  //
  // Marks the file `name` as a partial download of `stamp`, durably, before
  // any of its data arrives. Throws base::EFCreateError.
  void MarkPartial(const std::string& name, const std::string& stamp) const;
  // The file `name` opened for reading and writing when it is marked as a
  // partial download of the same `stamp`, is a regular file of this user
  // and is shorter than `size`; an empty descriptor otherwise. Never throws.
  base::UniqueFd OpenPartial(const std::string& name, const std::string& stamp,
                             std::uint64_t size) const;
  // The download of `name` is whole: its partial mark goes. Never throws.
  void Complete(const std::string& name) const;

  // Makes sure the folder's file system has room for `bytes` more while
  // keeping a reserve of 1% of its size free, so that a download cannot
  // fill the disk that the system and the installation share. Throws
  // EStagingFull, naming the figures, when it has not; a file system that
  // does not say (statvfs fails) is taken as it is.
  void CheckRoom(std::uint64_t bytes) const;

 private:
  std::string path_;
  base::UniqueFd folder_;
  bool fresh_ = false;                  // made by mkdtemp for this run alone
  mutable std::set<std::string> made_;  // the files CreateFile made, when fresh_
};

}  // namespace krevo::app
