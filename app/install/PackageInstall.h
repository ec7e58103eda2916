#pragma once
// One downloaded package put into the installation: the archive opened and
// checked (its central directory, the free space it needs), then extracted
// into a package transaction and committed, so that it goes in whole or not
// at all. It shows nothing: it says how the install ended, and the owner
// shows the failure and moves the bars.
#include <functional>
#include <memory>
#include <string>

#include "app/install/UpdaterArchiver.h"
#include "base/FileDescriptor.h"
#include "base/Streams.h"

namespace krevo::app {

// The password of every update package.
inline constexpr const char* kPackagePassword = "plumvat";

// How a package's install ended.
struct TInstallEnd {
  bool installed = false;
  // Why it was not installed, one sentence for the user; empty when it was,
  // and when the extraction's own events (a failed or cancelled entry, a
  // stop) have reported why.
  std::string failure;
};

class TPackageInstall final {
 public:
  // `archiver` is borrowed and must outlive this object; its designed events
  // (the entries' log lines, the overwrite policy, the progress) stay the
  // owner's. Packages go below `rootFolder` (may be empty: the current folder).
  TPackageInstall(TUpdaterArchiver& archiver, std::string rootFolder);
  TPackageInstall(const TPackageInstall&) = delete;
  TPackageInstall& operator=(const TPackageInstall&) = delete;

  // Raised once the archive is open and its directory whole, with its number
  // of entries (the install bar's range). May be empty.
  std::function<void(int entryCount)> OnOpened;

  // Installs the package `name` whose bytes `copy` (owned from now on; the
  // archiver keeps it until the archive is closed) holds, staged at
  // `copyPath`. The archive is opened with kPackagePassword and temporary
  // files kept in the root folder's "temp" (made 0700 when missing). Refused
  // before anything is written: an archive that cannot be opened or read, one
  // whose central directory had to be rebuilt from local headers, one whose
  // declared sizes exceed the free space of the root folder's file system,
  // and a root folder or a journal that the transaction cannot begin in.
  // Every entry is staged, then the transaction commits; an entry that fails,
  // a cancel or an aborted batch leaves the installation as it was. The
  // archive is closed and the archiver's staging hooks unset on every return.
  // Throws what the archiver's events throw during the extraction.
  TInstallEnd Install(const std::string& name, std::unique_ptr<base::TStream> copy,
                      const std::string& copyPath);

 private:
  // The refusal of `name` when the archive's files need more than is free.
  std::string SpaceRefusal(const std::string& name);

  TUpdaterArchiver& archiver_;
  std::string rootFolder_;
};

}  // namespace krevo::app
