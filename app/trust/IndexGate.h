#pragma once
// An accepted package index and what this installation has of it: the gate a
// run's packages pass through when the server publishes an index. Which
// packages are installed no longer depends on dates, so a package uploaded
// late, or a clock that once ran ahead, cannot make one look old; and a
// package republished under its name with other bytes is taken again.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "app/trust/IndexState.h"
#include "app/trust/PackageIndex.h"
#include "base/Blake2b512.h"
#include "base/DateTime.h"
#include "base/FileDescriptor.h"

namespace krevo::app {

class TIndexGate final {
 public:
  // Checks `index` for the installation whose root folder `rootFd` (owned
  // from now on) is, and whose state (LoadIndexState) is `stored`, or throws
  // EIndexError with the reason it is refused: its channel is not `channel`,
  // it expired before `now`, or its sequence is below the highest this
  // installation accepted. Reads and writes nothing.
  //
  // An installed package whose recorded hash is not the index's is wanted
  // again; one recorded with no hash (a state of the first version) takes the
  // index's: what is installed is taken to be what the index names. At the
  // first index an installation accepts, only the recorded packages count as
  // installed; `lastUpdate` (0: none) only picks, among the others, those
  // that the date filter would have taken as installed, for Offers.
  TIndexGate(TPackageIndex index, base::UniqueFd rootFd, std::optional<TIndexState> stored,
             const std::string& channel, std::time_t now, base::TDateTime lastUpdate);
  TIndexGate(const TIndexGate&) = delete;
  TIndexGate& operator=(const TIndexGate&) = delete;

  // Saves the accepted sequence and the hashes taken (SaveIndexState), when
  // they changed; to be done before anything is downloaded. Throws EIndexError.
  void Save();

  const TPackageIndex& Index() const { return index_; }
  std::uint64_t Sequence() const { return index_.Sequence; }
  // Why packages that an installed name or an earlier date would have kept
  // back are wanted: one sentence for the log each, in name order.
  const std::vector<std::string>& Offers() const { return offers_; }
  // Whether `name` is in the index and not installed with the index's hash.
  bool Wants(const std::string& name) const;
  // The index's entry for `name`; null when it has none.
  const TIndexedPackage* Find(const std::string& name) const;
  // `name`, as the index gives it, is installed: saved at once. Throws
  // EIndexError when the state cannot be saved; it is remembered for this
  // run all the same.
  void Installed(const std::string& name);

 private:
  TPackageIndex index_;
  base::UniqueFd rootFd_;
  TIndexState state_;
  bool changed_ = false;  // state_ differs from the state saved
  std::vector<std::string> offers_;
};

// Records `name` as installed, with the hash `digest` of its bytes (null: not
// known), in the state of the root folder `rootFd` (borrowed), made when there
// is none: a run without an index keeps the record that the first index
// needs. Throws EIndexError when the state cannot be read or saved.
void RecordInstalledWithoutIndex(int rootFd, const std::string& name,
                                 const base::TBlake2b512::Digest* digest);

}  // namespace krevo::app
