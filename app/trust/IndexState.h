#pragma once
// What this installation remembers of the package indexes it met, kept in the
// root folder as ".krevo-index.state": the highest sequence it accepted (an
// older index is a replay) and the packages it installed (so that selection
// needs no dates). The file is replaced whole, never written in place, so a
// power cut leaves the old state or the new one.
#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace krevo::app {

inline constexpr const char* kIndexStateName = ".krevo-index.state";

struct TIndexState {
  std::uint64_t Sequence = 0;
  std::set<std::string> Installed;  // package names
};

// The state in the folder `rootFd` (borrowed), or nothing when the folder
// holds none. Throws EIndexError when it cannot be read, is not a regular
// file, is larger than 16 MiB or is damaged: its loss would let an old index
// back in, so it is never passed over.
std::optional<TIndexState> LoadIndexState(int rootFd);

// Replaces the state in the folder `rootFd` (borrowed) durably, through
// ReplaceFileAtomically. Throws EIndexError; the old state then stays.
void SaveIndexState(int rootFd, const TIndexState& state);

}  // namespace krevo::app
