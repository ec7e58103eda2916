#pragma once
// What this installation remembers of the packages it installed and of the
// package indexes it met, kept in the root folder as ".krevo-index.state":
// the highest sequence it accepted (an older index is a replay; none while no
// index was ever accepted) and each package installed with the BLAKE2b-512
// hash of the bytes installed (so that selection needs no dates, and a
// package republished under its name is seen). The file is replaced whole,
// never written in place, so a power cut leaves the old state or the new one.
//
//   krevo-index-state 2
//   sequence 17                                 (absent: no index accepted)
//   installed up261201.zip <128 lowercase hex digits, or "-": not known>
//
// The first version ("krevo-index-state 1", a sequence always, "installed
// NAME" lines) is still read: its names come with no hash.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "base/Blake2b512.h"

namespace krevo::app {

inline constexpr const char* kIndexStateName = ".krevo-index.state";

struct TIndexState {
  // The highest sequence accepted; nothing while no index was accepted.
  std::optional<std::uint64_t> Sequence;
  // The packages installed, by name, with the hash of the bytes installed;
  // nothing when it is not known (a state of the first version, a package
  // installed without a hash taken).
  std::map<std::string, std::optional<base::TBlake2b512::Digest>> Installed;
};

// The state in the folder `rootFd` (borrowed), or nothing when the folder
// holds none. Throws EIndexError when it cannot be read, is not a regular
// file, is larger than 16 MiB or is damaged: its loss would let an old index
// back in, so it is never passed over.
std::optional<TIndexState> LoadIndexState(int rootFd);

// Replaces the state in the folder `rootFd` (borrowed) durably, through
// ReplaceFileAtomically, in the second version. Throws EIndexError; the old
// state then stays.
void SaveIndexState(int rootFd, const TIndexState& state);

// Replaces the file `name` of this installation's trust (the index state,
// the bad marks) in the root folder `rootFd` (borrowed) with `text`,
// durably, after removing any copy a killed save left (RemoveReplaceLeftovers).
// Throws EIndexError; the old file then stays.
void ReplaceTrustFile(int rootFd, const char* name, const std::string& text);

// The content of the trust file `name` in the root folder `rootFd`
// (borrowed), at most `maxBytes` (a whole number of MiB); nothing when there
// is none. Otherwise `fail(what, errno)` (it cannot be opened or read) or
// `damaged(why)` (not a regular file, too large) is called, and must throw.
std::optional<std::string> ReadTrustFile(int rootFd, const char* name, std::size_t maxBytes,
                                         void (*fail)(const std::string& what, int error),
                                         void (*damaged)(const std::string& why));

}  // namespace krevo::app
