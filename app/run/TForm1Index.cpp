// The package index in the update run: fetched after the listing, accepted or
// refused before anything is downloaded, and then the list of what the run
// installs, in the index's name order, with the index's sizes and hashes.
#include <fcntl.h>

#include "app/trust/PackageIndexFetch.h"
#include "app/sources/PackageListing.h"
#include "app/run/TForm1.h"
#include "base/ControlEscape.h"
#include "base/Dialogs.h"

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

std::optional<std::uint64_t> TForm1::AcceptedIndexSequence() const {
  if (!index_) return std::nullopt;
  return index_->Sequence();
}

void TForm1::FetchIndex() {
  if (packageKeys_.empty()) return;  // nothing to check one with
  try {
    fetchedIndex_ = FetchPackageIndex(*source_, packageKeys_);
  } catch (const EIndexError& e) {
    indexRefusal_ = e.what();
  }
}

bool TForm1::IndexAccepted() {
  if (!indexRefusal_.empty()) return RefuseIndex(indexRefusal_);
  if (!fetchedIndex_) {
    // A server that withholds the index is not told from one that never had
    // one, unless the installation insists.
    if (!FConfig.RequireIndex) return true;
    return RefuseIndex(
        "The server has no package index, and RequireIndex=yes in config.ini asks for one.");
  }
  try {
    base::UniqueFd root = OpenRootFolder();
    if (!root)
      throw EIndexError("The package index cannot be checked: the root folder " +
                        base::EscapeControlCharacters(FRootFolder) + " cannot be opened.");
    index_ =
        std::make_unique<TIndexGate>(std::move(*fetchedIndex_), std::move(root), FConfig.Channel,
                                     base::DateTimeToTimeT(Clock()), FLastUpdate);
  } catch (const EIndexError& e) {
    return RefuseIndex(e.what());
  }
  fetchedIndex_.reset();
  const TPackageIndex& index = index_->Index();
  UpdateLog.AppendLine("Package index " + std::to_string(index.Sequence) + " (channel " +
                       index.Channel + ", expires " + index.Expires + ") accepted.");
  // The index says what exists: a file it does not name is no package.
  for (const std::string& line : ListBox1.Lines()) {
    const std::optional<TListedPackage> listed = ReadListingLine(line);
    if (listed && !index_->Find(listed->Name))
      UpdateLog.AppendLine("Passed over " + listed->Name + ": it is not in the package index.");
  }
  ListBox1.Clear();
  for (const auto& [name, entry] : index.Packages) ListBox1.Add(IndexLine(name, entry.Size));
  return true;
}

bool TForm1::RefuseIndex(const std::string& reason) {
  // Logged first: the record stays even if nobody answers the dialog.
  UpdateLog.AppendLine(reason);
  base::Dialogs().MessageDlg(reason, base::TMsgDlgType::mtError, base::MakeButtons({base::mbOK}));
  outcome_ = TRunOutcome::PackageFailed;
  Close();
  return false;
}

bool TForm1::PackageWanted(const std::string& name) const {
  if (index_) return index_->Wants(name);
  return FLastUpdate == 0 || IsNewerThan(name, FLastUpdate);
}

const char* TForm1::IndexHashRefused(const std::string& name, int packageFd,
                                     const base::TBlake2b512::Digest* digest) {
  const TIndexedPackage* entry = index_->Find(name);
  // A copy resumed from an earlier run was not hashed whole as it arrived.
  const base::TBlake2b512::Digest hash =
      digest ? *digest : base::TBlake2b512::OfDescriptor(packageFd);
  if (entry && hash == entry->Hash) return nullptr;
  ShowPackageFailure("Refused to install " + name +
                     ": bad signature: its BLAKE2b-512 hash is not the one the package index "
                     "gives.");
  return " ... bad signature";
}

void TForm1::RecordInstalled(const std::string& name) {
  try {
    if (index_) {
      index_->Installed(name);
    } else if (const base::UniqueFd root = OpenRootFolder()) {
      RecordInstalledWithoutIndex(root.get(), name);
    }
  } catch (const EIndexError& e) {
    // The package is in place; the next run with an index installs it again.
    ++failedPackages_;
    UpdateLog.AppendLine(e.what());
    ShowPackageFailure(e.what());
  }
}

}  // namespace krevo::app
