#include "app/trust/PackagePhase.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "base/FileDescriptor.h"

namespace krevo::app {
namespace {

// Hashed ahead of everything, so that the hashes of a machine id made here
// match nothing that another program derives from it.
constexpr std::string_view kIdentityKey = "krevo-updater phase identity v1";
constexpr std::string_view kPlaceKey = "krevo-updater phase place v1";

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Each field is preceded by its length, so that no two lists of fields hash
// alike.
void Field(base::TBlake2b512& hash, std::span<const std::uint8_t> bytes) {
  std::uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bytes.size() >> (8 * i));
  hash.Update(length);
  hash.Update(bytes);
}

}  // namespace

TPhaseIdentity::TPhaseIdentity(std::string_view phaseGroup,
                               std::optional<std::string_view> machineId) {
  if (phaseGroup.empty() && !machineId) return;
  base::TBlake2b512 hash;
  Field(hash, Bytes(kIdentityKey));
  Field(hash, Bytes(phaseGroup.empty() ? "machine" : "group"));
  Field(hash, Bytes(phaseGroup.empty() ? *machineId : phaseGroup));
  key_ = hash.Final();
}

double TPhaseIdentity::Place(std::string_view name, const base::TBlake2b512::Digest& hash) const {
  if (!key_) return 99.99;
  base::TBlake2b512 place;
  Field(place, Bytes(kPlaceKey));
  Field(place, *key_);
  Field(place, Bytes(name));
  Field(place, hash);
  const base::TBlake2b512::Digest digest = place.Final();
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = value << 8 | digest[i];
  // 2^64 is no multiple of 10000, but the bias is below 10^-15.
  return static_cast<double>(value % 10000) / 100.0;
}

bool TPhaseIdentity::Takes(std::string_view name, const TIndexedPackage& package) const {
  return Place(name, package.Hash) < package.Phase;
}

std::optional<std::string> ReadMachineId() {
  const char* named = std::getenv(kMachineIdEnvironment);
  const std::string path = named && *named ? named : kMachineIdPath;
  const base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return std::nullopt;
  char buffer[257];
  std::size_t size = 0;
  while (size < sizeof buffer) {
    const ssize_t n = ::read(fd.get(), buffer + size, sizeof buffer - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  std::string_view text(buffer, size);
  text = text.substr(0, text.find('\n'));
  if (text.empty() || text.size() > 256) return std::nullopt;
  for (const char c : text)
    if (c < 0x21 || c > 0x7e) return std::nullopt;
  return std::string(text);
}

}  // namespace krevo::app
