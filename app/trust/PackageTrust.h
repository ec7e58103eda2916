#pragma once
// What this installation trusts: the keys packages must be signed with, the
// package index fetched from the source and accepted or refused, which
// packages a run wants, whether a downloaded copy may be opened, and the
// record of what was installed. It decides and shows nothing: the owner
// shows its verdicts and writes the log.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/config/UpdaterConfig.h"
#include "app/sources/PackageSource.h"
#include "app/trust/BadPackages.h"
#include "app/trust/IndexGate.h"
#include "app/trust/PackageIndex.h"
#include "app/trust/PackagePhase.h"
#include "base/Blake2b512.h"
#include "base/DateTime.h"
#include "base/Minisign.h"

namespace krevo::app {

// Why a downloaded copy is not opened.
struct TPackageRefusal {
  std::string text;    // one sentence for the user
  const char* ending;  // the list line's ending: " ... not signed" or " ... bad signature"
};

// Why no index was accepted from a source.
struct TIndexRefusal {
  std::string text;  // one sentence for the user
  // The source's index is at fault (missing where one is expected, refused,
  // expired, older than the one accepted, of another channel): another
  // source may do. False when this installation's state or root folder is.
  bool sourceAtFault = true;
};

// A package of the accepted index that this machine does not take yet: its
// phase is not past the machine's place.
struct THeldPackage {
  std::string name;
  int phase = 0;       // the index's phase=, 0-100
  double place = 0.0;  // this machine's place, 0.00-99.99
};

class TPackageTrust final {
 public:
  TPackageTrust() = default;
  TPackageTrust(const TPackageTrust&) = delete;
  TPackageTrust& operator=(const TPackageTrust&) = delete;

  // Reads the keys of `config` (LoadPackageKeys; `executableFolder` ends in
  // '/'). Throws base::ESignatureError as LoadPackageKeys does; the keys held
  // before are kept then.
  void LoadKeys(const TUpdaterConfig& config, const std::string& executableFolder);
  // Whether packages are checked: there is a key.
  bool ChecksPackages() const { return !keys_.empty(); }

  // With keys, fetches the index from `source` (borrowed, open) and checks
  // its signature (FetchPackageIndex); a refused one is remembered for
  // AcceptIndex. What an earlier source gave is forgotten first. Without keys
  // does nothing. Throws what FetchPackageIndex throws but EIndexError.
  void FetchIndex(TPackageSource& source);
  // Accepts the fetched index for the installation below `rootFolder` (may be
  // empty: the current folder), on `channel`, at the time `clock` gives
  // (asked only when there is an index to check), with `lastUpdate` the date
  // of the last update (TIndexGate), and saves the state before anything is
  // downloaded. Nothing when it is accepted, or when the source has none and
  // none is expected; else the refusal. One is expected when `requireIndex`
  // is true, and, with keys, once the state holds an accepted index: a
  // source cannot switch the index off by withholding it.
  std::optional<TIndexRefusal> AcceptIndex(const std::string& rootFolder,
                                           const std::string& channel, bool requireIndex,
                                           const std::function<base::TDateTime()>& clock,
                                           base::TDateTime lastUpdate);
  // The accepted index; null when none was accepted.
  const TPackageIndex* Index() const { return index_ ? &index_->Index() : nullptr; }
  // Why the accepted index wants packages again (TIndexGate::Offers); empty
  // without an index.
  std::vector<std::string> IndexOffers() const;
  // The names of the packages among the listing `lines` that the accepted
  // index does not name, in the lines' order. Empty without an index.
  std::vector<std::string> NotIndexed(const std::vector<std::string>& lines) const;
  // The list of what the run may install once an index is accepted: one
  // listing line for each of its packages but the revoked ones, in name
  // order, the index's size in the listing's size column. Empty without an
  // index.
  std::vector<std::string> IndexLines() const;

  // Places this machine as `identity` in phased releases; nothing (the
  // default) takes every package at once, whatever its phase.
  void SetPhasing(std::optional<TPhaseIdentity> identity) { phasing_ = std::move(identity); }
  // The packages of the accepted index that would be wanted but that their
  // phase holds back from this machine, in name order. Empty without an
  // index or phasing.
  std::vector<THeldPackage> Held() const;

  // Whether a normal run takes `name`: with an index, a package of it not
  // installed yet, not revoked and not held back by its phase; without one,
  // a package newer than `lastUpdate` (0: any). Never one marked bad
  // (TBadPackages::Holds, LoadBadPackages).
  bool Wants(const std::string& name, base::TDateTime lastUpdate) const;
  // Whether the downloaded copy of `name`, whose bytes `packageFd` holds
  // (borrowed), may be opened: with an index, its BLAKE2b-512 hash (`digest`
  // when given, else read from packageFd) must be the index's; with keys and
  // no index, NAME.minisig fetched from `source` (borrowed, open) must verify
  // (FetchPackageSignature). Nothing when it may, or when there are no keys;
  // else the refusal. Throws what FetchPackageSignature throws.
  std::optional<TPackageRefusal> Refusal(TPackageSource& source, const std::string& name,
                                         int packageFd, const base::TBlake2b512::Digest* digest);
  // Keeps `name` in the installed packages of the index state below
  // `rootFolder`: with an index, with the index's hash (TIndexGate::Installed);
  // without, with `digest` (null: not known), the state made when there is
  // none (RecordInstalledWithoutIndex), when the root folder opens. Nothing
  // when it is kept; else the failure (an EIndexError's message): the package
  // is in place, and the next run with an index installs it again.
  // Reads the packages marked bad below `rootFolder` (none when it cannot be
  // opened). Throws EIndexError as TBadPackages::Load does.
  void LoadBadPackages(const std::string& rootFolder);
  // Marks `name` bad below `rootFolder`: with an index, with the index's
  // hash; without, with `digest` (null: not known). Nothing when it is kept;
  // else the failure (an EIndexError's message).
  std::optional<std::string> RecordBad(const std::string& rootFolder, const std::string& name,
                                       const base::TBlake2b512::Digest* digest);
  std::optional<std::string> RecordInstalled(const std::string& rootFolder, const std::string& name,
                                             const base::TBlake2b512::Digest* digest);

 private:
  // Whether `name` is marked bad with the bytes this run would take.
  bool BadNow(const std::string& name) const;
  // The keys that packages must be signed with; empty: packages are not checked.
  std::vector<base::TMinisignKey> keys_;
  std::optional<TPackageIndex> fetched_;   // verified, not yet accepted
  std::string refusal_;                    // why the fetched index was refused
  std::unique_ptr<TIndexGate> index_;      // the accepted index
  std::optional<TPhaseIdentity> phasing_;  // nothing: phases are not followed
  TBadPackages bad_;                       // the packages that failed their health check
};

}  // namespace krevo::app
