#pragma once
// A phased release: the index lets a share of machines take a package at
// first, and more as the vendor raises it. Each machine has its place for
// each package, a number from 0 to 99.99 that it alone can work out (from its
// machine id, which never leaves it) and that changes with the package, so
// that the same machines are not always the first.
#include <optional>
#include <string>
#include <string_view>

#include "app/trust/PackageIndex.h"
#include "base/Blake2b512.h"

namespace krevo::app {

inline constexpr const char* kMachineIdPath = "/etc/machine-id";
// The environment variable that names another machine id file, for tests:
// they cannot write /etc/machine-id.
inline constexpr const char* kMachineIdEnvironment = "KREVO_MACHINE_ID_FILE";

// Who this machine is when placing packages: its phase group when
// `phaseGroup` is not empty (every machine of a group takes the same place),
// else its machine id. Only a hash of it is ever kept.
class TPhaseIdentity final {
 public:
  // From the group's name, or when empty from `machineId`; nothing (no
  // machine id and no group) places the machine last.
  TPhaseIdentity(std::string_view phaseGroup, std::optional<std::string_view> machineId);

  // The place, 0.00 to 99.99 in hundredths, of this machine for the package
  // `name` with the index hash `hash`.
  double Place(std::string_view name, const base::TBlake2b512::Digest& hash) const;
  // Whether this machine may take `package` now: its place is below the
  // package's phase.
  bool Takes(std::string_view name, const TIndexedPackage& package) const;

 private:
  std::optional<base::TBlake2b512::Digest> key_;  // the identity's keyed hash
};

// The machine id: the first line of the file that KREVO_MACHINE_ID_FILE names,
// else of /etc/machine-id, when it is 1 to 256 printable characters; nothing
// when the file cannot be read or holds no such line. Never throws but
// std::bad_alloc.
std::optional<std::string> ReadMachineId();

}  // namespace krevo::app
