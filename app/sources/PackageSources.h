#pragma once
// The sources of a run, made once from the settings that name them: the one
// server of Host, Port and Security, or the entries of Sources, in order.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/sources/PackageSource.h"
#include "app/sources/UpdateSources.h"
#include "ftp/NetFTP.h"

namespace krevo::app {

// What chooses the sources, as config.ini gives it.
struct TSourceSettings {
  std::string Sources;  // [Updater] Sources as it stands; empty: the one server below
  bool RequireTLS = false;
  std::string Host;
  int Port = 21;
  // Whether packages are verified (a key is configured); without, a folder
  // is taken only with AllowUnsignedFolder.
  bool ChecksPackages = false;
  bool AllowUnsignedFolder = false;
};

// The addresses `settings` name. Throws ESourceError for a malformed Sources,
// for an ftp:// entry among them when RequireTLS is set (the password would
// go in clear), and for a folder among them when packages are not verified
// and AllowUnsignedFolder is not set: whoever can write a folder could
// otherwise install code.
std::vector<TSourceAddress> SourceAddresses(const TSourceSettings& settings);

// How the status file names the first source `settings` configure, without
// throwing: a Sources value that cannot be read names the one server.
std::string FirstSourceName(const TSourceSettings& settings);

// The progress of a folder's copies, as the FTP client's work events give
// it, and the descriptor (-1: none) that becomes readable once the run must
// stop.
struct TFolderCopyEvents {
  std::function<void(std::int64_t size)> OnWorkBegin;
  std::function<void(std::int64_t count)> OnWork;
  std::function<void()> OnWorkEnd;
  int StopFd = -1;
};

// One source for each of `addresses`: the servers share the session `ftp`
// (borrowed; it must outlive them), the folders report their copies through
// `folderEvents`.
std::vector<std::unique_ptr<TPackageSource>> MakePackageSources(
    const std::vector<TSourceAddress>& addresses, ftp::TNetFTP& ftp,
    const TFolderCopyEvents& folderEvents);

}  // namespace krevo::app
