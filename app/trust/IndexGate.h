#pragma once
// An accepted package index and what this installation has of it: the gate a
// run's packages pass through when the server publishes an index. Which
// packages are installed no longer depends on dates, so a package uploaded
// late, or a clock that once ran ahead, cannot make one look old.
#include <cstdint>
#include <ctime>
#include <string>

#include "app/trust/IndexState.h"
#include "app/trust/PackageIndex.h"
#include "base/DateTime.h"
#include "base/FileDescriptor.h"

namespace krevo::app {

class TIndexGate final {
 public:
  // Accepts `index` for the installation whose root folder `rootFd` (owned
  // from now on) is, or throws EIndexError with the reason it is refused: its
  // channel is not `channel`, it expired before `now`, or its sequence is
  // below the highest this installation accepted (LoadIndexState). The
  // first index an installation meets finds the packages that the date
  // filter took already: those whose name date is not after `lastUpdate` (0:
  // none) count as installed. The accepted sequence and the installed
  // packages are then saved (SaveIndexState), before anything is downloaded;
  // a state that cannot be read or saved throws EIndexError too.
  TIndexGate(TPackageIndex index, base::UniqueFd rootFd, const std::string& channel,
             std::time_t now, base::TDateTime lastUpdate);
  TIndexGate(const TIndexGate&) = delete;
  TIndexGate& operator=(const TIndexGate&) = delete;

  const TPackageIndex& Index() const { return index_; }
  std::uint64_t Sequence() const { return index_.Sequence; }
  // Whether `name` is in the index and not installed yet.
  bool Wants(const std::string& name) const;
  // The index's entry for `name`; null when it has none.
  const TIndexedPackage* Find(const std::string& name) const;
  // `name` is installed: saved at once. Throws EIndexError when the state
  // cannot be saved; it is remembered for this run all the same.
  void Installed(const std::string& name);

 private:
  TPackageIndex index_;
  base::UniqueFd rootFd_;
  TIndexState state_;
};

// Records `name` as installed in the state of the root folder `rootFd`
// (borrowed) when it holds one: a package that a run without an index
// installed must not be installed again once an index is back. Throws
// EIndexError when the state cannot be read or saved.
void RecordInstalledWithoutIndex(int rootFd, const std::string& name);

}  // namespace krevo::app
