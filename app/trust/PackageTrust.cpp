#include "app/trust/PackageTrust.h"

#include "app/install/PackageInstall.h"
#include "app/sources/PackageListing.h"
#include "app/trust/PackageIndexFetch.h"
#include "app/trust/PackageSignature.h"
#include "base/ControlEscape.h"
#include "base/FileSystem.h"

namespace krevo::app {
namespace {

// A line of the list for an indexed package, in the listing's fixed columns:
// the size (the index bounds it to ten digits) within characters 30-39 and
// the name from 40, so the download run reads the index's size from it. A
// blank stands between them, as in the server's lines, unless the size
// takes all ten characters.
std::string IndexLine(const std::string& name, std::uint64_t size) {
  std::string digits = std::to_string(size);
  if (digits.size() < 10) digits += ' ';
  return std::string(39 - digits.size(), ' ') + digits + name;
}

}  // namespace

void TPackageTrust::LoadKeys(const TUpdaterConfig& config, const std::string& executableFolder) {
  keys_ = LoadPackageKeys(config, executableFolder);
}

void TPackageTrust::FetchIndex(TPackageSource& source) {
  fetched_.reset();
  refusal_.clear();
  if (keys_.empty()) return;  // nothing to check one with
  try {
    fetched_ = FetchPackageIndex(source, keys_);
  } catch (const EIndexError& e) {
    refusal_ = e.what();
  }
}

std::optional<TIndexRefusal> TPackageTrust::AcceptIndex(
    const std::string& rootFolder, const std::string& channel, bool requireIndex,
    const std::function<base::TDateTime()>& clock, base::TDateTime lastUpdate) {
  if (!refusal_.empty()) return TIndexRefusal{refusal_};
  std::optional<TIndexState> stored;
  base::UniqueFd root = base::OpenFolder(rootFolder);
  try {
    if (root) stored = LoadIndexState(root.get());
  } catch (const EIndexError& e) {
    return TIndexRefusal{e.what(), false};
  }
  if (!fetched_) {
    // A server that withholds the index is not told from one that never had
    // one, unless the installation insists or accepted one before.
    if (requireIndex)
      return TIndexRefusal{
          "The server has no package index, and RequireIndex=yes in config.ini asks for one."};
    if (!keys_.empty() && stored && stored->Sequence)
      return TIndexRefusal{
          "The server has no package index, and this installation accepted "
          "package index " +
          std::to_string(*stored->Sequence) + " before."};
    return std::nullopt;
  }
  if (!root)
    return TIndexRefusal{"The package index cannot be checked: the root folder " +
                             base::EscapeControlCharacters(rootFolder) + " cannot be opened.",
                         false};
  std::unique_ptr<TIndexGate> gate;
  try {
    TPackageIndex index = std::move(*fetched_);
    fetched_.reset();
    gate = std::make_unique<TIndexGate>(std::move(index), std::move(root), std::move(stored),
                                        channel, base::DateTimeToTimeT(clock()), lastUpdate);
  } catch (const EIndexError& e) {
    return TIndexRefusal{e.what()};
  }
  try {
    gate->Save();
  } catch (const EIndexError& e) {
    return TIndexRefusal{e.what(), false};
  }
  index_ = std::move(gate);
  return std::nullopt;
}

std::vector<std::string> TPackageTrust::IndexOffers() const {
  return index_ ? index_->Offers() : std::vector<std::string>{};
}

std::vector<std::string> TPackageTrust::NotIndexed(const std::vector<std::string>& lines) const {
  std::vector<std::string> names;
  if (!index_) return names;
  // The index says what exists: a file it does not name is no package.
  for (const std::string& line : lines) {
    const std::optional<TListedPackage> listed = ReadListingLine(line);
    if (listed && !index_->Find(listed->Name)) names.push_back(listed->Name);
  }
  return names;
}

std::vector<std::string> TPackageTrust::IndexLines() const {
  std::vector<std::string> lines;
  if (!index_) return lines;
  for (const auto& [name, entry] : index_->Index().Packages)
    if (!entry.Revoked) lines.push_back(IndexLine(name, entry.Size));
  return lines;
}

std::vector<THeldPackage> TPackageTrust::Held() const {
  std::vector<THeldPackage> held;
  if (!index_ || !phasing_) return held;
  for (const auto& [name, entry] : index_->Index().Packages)
    if (!entry.Revoked && !BadNow(name) && index_->Wants(name) && !phasing_->Takes(name, entry))
      held.push_back({name, entry.Phase, phasing_->Place(name, entry.Hash)});
  return held;
}

bool TPackageTrust::Wants(const std::string& name, base::TDateTime lastUpdate) const {
  if (BadNow(name)) return false;
  if (index_) {
    const TIndexedPackage* entry = index_->Find(name);
    return entry && !entry->Revoked && index_->Wants(name) &&
           (!phasing_ || phasing_->Takes(name, *entry));
  }
  return lastUpdate == 0 || IsNewerThan(name, lastUpdate);
}

std::optional<TPackageRefusal> TPackageTrust::Refusal(TPackageSource& source,
                                                      const std::string& name, int packageFd,
                                                      const base::TBlake2b512::Digest* digest) {
  if (keys_.empty()) return std::nullopt;
  if (index_) {
    const TIndexedPackage* entry = index_->Find(name);
    // A copy resumed from an earlier run was not hashed whole as it arrived.
    const base::TBlake2b512::Digest hash =
        digest ? *digest : base::TBlake2b512::OfDescriptor(packageFd);
    if (entry && hash == entry->Hash) return std::nullopt;
    return TPackageRefusal{"Refused to install " + name +
                               ": bad signature: its BLAKE2b-512 hash is not the one the package "
                               "index gives.",
                           " ... bad signature"};
  }
  const TPackageSignature check = FetchPackageSignature(source, keys_, name, packageFd, digest);
  switch (check.status) {
    case TPackageSignatureStatus::psValid:
      return std::nullopt;
    case TPackageSignatureStatus::psNotSigned:
      return TPackageRefusal{
          "Refused to install " + name + ": it is not signed; " + check.reason + ".",
          " ... not signed"};
    case TPackageSignatureStatus::psBadSignature:
      break;
  }
  return TPackageRefusal{"Refused to install " + name + ": bad signature: " + check.reason + ".",
                         " ... bad signature"};
}

bool TPackageTrust::BadNow(const std::string& name) const {
  if (bad_.Empty()) return false;
  const TIndexedPackage* entry = index_ ? index_->Find(name) : nullptr;
  if (index_ && !entry) return false;  // the index does not offer it at all
  return bad_.Holds(name, entry ? &entry->Hash : nullptr);
}

void TPackageTrust::LoadBadPackages(const std::string& rootFolder) {
  if (const base::UniqueFd root = base::OpenFolder(rootFolder))
    bad_ = TBadPackages::Load(root.get());
}

std::optional<std::string> TPackageTrust::RecordBad(const std::string& rootFolder,
                                                    const std::string& name,
                                                    const base::TBlake2b512::Digest* digest) {
  const TIndexedPackage* entry = index_ ? index_->Find(name) : nullptr;
  const base::TBlake2b512::Digest* hash = entry ? &entry->Hash : digest;
  try {
    const base::UniqueFd root = base::OpenFolder(rootFolder);
    if (!root) throw EIndexError("The root folder cannot be opened to mark " + name + " bad.");
    TBadPackages stored = TBadPackages::Load(root.get());
    stored.Add(name, hash);
    stored.Save(root.get());
    bad_ = std::move(stored);
  } catch (const EIndexError& e) {
    bad_.Add(name, hash);  // kept for this run all the same
    return std::string(e.what());
  }
  return std::nullopt;
}

std::optional<std::string> TPackageTrust::RecordInstalled(const std::string& rootFolder,
                                                          const std::string& name,
                                                          const base::TBlake2b512::Digest* digest) {
  try {
    if (index_) {
      index_->Installed(name);
    } else if (const base::UniqueFd root = base::OpenFolder(rootFolder)) {
      RecordInstalledWithoutIndex(root.get(), name, digest);
    }
  } catch (const EIndexError& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

}  // namespace krevo::app
