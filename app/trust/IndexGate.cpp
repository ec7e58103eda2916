#include "app/trust/IndexGate.h"

#include "app/sources/PackageListing.h"
#include "base/ControlEscape.h"

namespace krevo::app {

TIndexGate::TIndexGate(TPackageIndex index, base::UniqueFd rootFd,
                       std::optional<TIndexState> stored, const std::string& channel,
                       std::time_t now, base::TDateTime lastUpdate)
    : index_(std::move(index)), rootFd_(std::move(rootFd)) {
  if (index_.Channel != channel)
    throw EIndexError("The package index is for the channel " + index_.Channel + ", not " +
                      base::EscapeControlCharacters(channel) + ".");
  if (now > index_.ExpiresAt)
    throw EIndexError("The package index has expired (" + index_.Expires + ").");
  if (stored && stored->Sequence && index_.Sequence < *stored->Sequence)
    throw EIndexError("The package index is older than the one accepted before (sequence " +
                      std::to_string(index_.Sequence) + ", not " +
                      std::to_string(*stored->Sequence) + ").");
  if (stored) state_ = std::move(*stored);
  const bool first = !state_.Sequence;
  for (const auto& [name, entry] : index_.Packages) {
    const auto installed = state_.Installed.find(name);
    if (installed == state_.Installed.end()) {
      if (first && lastUpdate != 0 && !IsNewerThan(name, lastUpdate))
        offers_.push_back("Offering " + name +
                          " again: it is dated before the last update, but no run recorded "
                          "installing it.");
    } else if (!installed->second) {
      installed->second = entry.Hash;
      changed_ = true;
    } else if (*installed->second != entry.Hash) {
      offers_.push_back("Offering " + name +
                        " again: the package index gives it another hash than the one installed.");
    }
  }
  if (state_.Sequence != index_.Sequence) changed_ = true;
  state_.Sequence = index_.Sequence;
}

void TIndexGate::Save() {
  if (!changed_) return;
  SaveIndexState(rootFd_.get(), state_);
  changed_ = false;
}

bool TIndexGate::Wants(const std::string& name) const {
  const TIndexedPackage* entry = Find(name);
  if (!entry) return false;
  const auto installed = state_.Installed.find(name);
  return installed == state_.Installed.end() || installed->second != entry->Hash;
}

const TIndexedPackage* TIndexGate::Find(const std::string& name) const {
  const auto it = index_.Packages.find(name);
  return it == index_.Packages.end() ? nullptr : &it->second;
}

void TIndexGate::Installed(const std::string& name) {
  const TIndexedPackage* entry = Find(name);
  std::optional<base::TBlake2b512::Digest>& recorded = state_.Installed[name];
  const std::optional<base::TBlake2b512::Digest> hash =
      entry ? std::optional(entry->Hash) : std::nullopt;
  if (recorded == hash && !changed_) return;
  recorded = hash;
  changed_ = true;
  Save();
}

void RecordInstalledWithoutIndex(int rootFd, const std::string& name,
                                 const base::TBlake2b512::Digest* digest) {
  TIndexState state = LoadIndexState(rootFd).value_or(TIndexState{});
  const std::optional<base::TBlake2b512::Digest> hash =
      digest ? std::optional(*digest) : std::nullopt;
  const auto [it, added] = state.Installed.try_emplace(name, hash);
  if (!added && it->second == hash) return;
  it->second = hash;
  SaveIndexState(rootFd, state);
}

}  // namespace krevo::app
