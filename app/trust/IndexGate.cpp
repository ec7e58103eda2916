#include "app/trust/IndexGate.h"

#include "app/sources/PackageListing.h"
#include "base/ControlEscape.h"

namespace krevo::app {

TIndexGate::TIndexGate(TPackageIndex index, base::UniqueFd rootFd, const std::string& channel,
                       std::time_t now, base::TDateTime lastUpdate)
    : index_(std::move(index)), rootFd_(std::move(rootFd)) {
  if (index_.Channel != channel)
    throw EIndexError("The package index is for the channel " + index_.Channel + ", not " +
                      base::EscapeControlCharacters(channel) + ".");
  if (now > index_.ExpiresAt)
    throw EIndexError("The package index has expired (" + index_.Expires + ").");
  const std::optional<TIndexState> stored = LoadIndexState(rootFd_.get());
  if (stored && index_.Sequence < stored->Sequence)
    throw EIndexError("The package index is older than the one accepted before (sequence " +
                      std::to_string(index_.Sequence) + ", not " +
                      std::to_string(stored->Sequence) + ").");
  if (stored) {
    state_ = *stored;
    if (index_.Sequence == stored->Sequence) return;  // nothing new to save
  } else if (lastUpdate != 0) {
    for (const auto& entry : index_.Packages)
      if (!IsNewerThan(entry.first, lastUpdate)) state_.Installed.insert(entry.first);
  }
  state_.Sequence = index_.Sequence;
  SaveIndexState(rootFd_.get(), state_);
}

bool TIndexGate::Wants(const std::string& name) const {
  return index_.Packages.contains(name) && !state_.Installed.contains(name);
}

const TIndexedPackage* TIndexGate::Find(const std::string& name) const {
  const auto it = index_.Packages.find(name);
  return it == index_.Packages.end() ? nullptr : &it->second;
}

void TIndexGate::Installed(const std::string& name) {
  if (state_.Installed.insert(name).second) SaveIndexState(rootFd_.get(), state_);
}

void RecordInstalledWithoutIndex(int rootFd, const std::string& name) {
  std::optional<TIndexState> state = LoadIndexState(rootFd);
  if (state && state->Installed.insert(name).second) SaveIndexState(rootFd, *state);
}

}  // namespace krevo::app
