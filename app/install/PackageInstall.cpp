#include "app/install/PackageInstall.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <limits>
#include <optional>

#include "app/install/PackageTransaction.h"
#include "base/Errors.h"
#include "base/FileSystem.h"

namespace krevo::app {
namespace {

// The bytes that the user running the updater may still write on the file
// system of `folder`; nothing when it cannot be asked.
std::optional<std::uint64_t> FreeBytes(const std::string& folder) {
  base::UniqueFd fd = base::OpenFolder(folder);
  struct statvfs vfs;
  if (!fd || ::fstatvfs(fd.get(), &vfs) != 0) return std::nullopt;
  const std::uint64_t blocks = vfs.f_bavail, size = vfs.f_frsize;
  if (size != 0 && blocks > std::numeric_limits<std::uint64_t>::max() / size)
    return std::numeric_limits<std::uint64_t>::max();
  return blocks * size;
}

// The sum of the declared sizes of the files that extracting everything
// would write. Files that the overwrite policy will keep are counted too:
// the check asks for a little more than it may need, never less.
std::uint64_t DeclaredSize(archive::TZipBaseArchiver& archiver) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t total = 0;
  archive::TZipArchiveItem item;
  for (bool found = archiver.FindFirstEntry("*.*", item, base::faAnyEntry, ""); found;
       found = archiver.FindNextEntry(item)) {
    if (item.Attributes & archive::kAttrDirectory) continue;
    // A size past the signed range reads back negative: no disk holds it.
    const std::uint64_t size =
        item.UnpackedSize < 0 ? kMax : static_cast<std::uint64_t>(item.UnpackedSize);
    total = size > kMax - total ? kMax : total + size;
  }
  return total;
}

}  // namespace

TPackageInstall::TPackageInstall(TUpdaterArchiver& archiver, std::string rootFolder)
    : archiver_(archiver), rootFolder_(std::move(rootFolder)) {}

std::string TPackageInstall::SpaceRefusal(const std::string& name) {
  const std::optional<std::uint64_t> free = FreeBytes(rootFolder_);
  if (!free) return {};  // the extraction reports a write that fails
  const std::uint64_t needed = DeclaredSize(archiver_);
  if (needed <= *free) return {};
  return "Not enough free space to install " + name + ": " + std::to_string(needed) +
         " bytes are needed in " + rootFolder_ + ", " + std::to_string(*free) + " bytes are free.";
}

TInstallEnd TPackageInstall::Install(const std::string& name, std::unique_ptr<base::TStream> copy,
                                     const std::string& copyPath) {
  const std::string tempDir = rootFolder_ + "/temp";
  // Only this user's: the component keeps its temporary files there. A
  // folder that exists already is left as it is; a failure is ignored.
  ::mkdir(tempDir.c_str(), 0700);
  archiver_.TempDir = tempDir;
  archiver_.Password = kPackagePassword;
  try {
    archiver_.OpenArchiveStream(std::move(copy), copyPath);
  } catch (const base::Exception& e) {
    // The archive is invalid (EZipException) or cannot be read (EStreamError):
    // this package fails, the next one is still tried.
    return {false, "Failed to install " + name + ": " + e.what()};
  }
  // Items rebuilt from local headers may be only the first part of the
  // package: nothing of it is installed.
  if (archiver_.DirectoryRebuilt()) {
    archiver_.CloseArchiveFile();
    return {false, "Failed to install " + name +
                       ": the central directory is damaged; nothing was installed from it."};
  }
  if (OnOpened) OnOpened(archiver_.EntryCount());
  archiver_.BaseDir = rootFolder_;
  if (std::string refusal = SpaceRefusal(name); !refusal.empty()) {
    archiver_.CloseArchiveFile();
    return {false, std::move(refusal)};
  }
  // The package goes in as one change: its files are staged beside their
  // destinations and take their places only once every entry verified; a
  // failure, a stop or a kill before then leaves the installation as it was.
  const base::UniqueFd root = base::OpenFolder(rootFolder_);
  std::optional<TPackageTransaction> transaction;
  try {
    if (!root) throw ETransactionError("the root folder cannot be opened");
    transaction.emplace(root.get(), name);
  } catch (const ETransactionError& e) {
    archiver_.CloseArchiveFile();
    return {false, "Failed to install " + name + ": " + e.what()};
  }
  archiver_.OnStageFolder = [&transaction](
                                archive::TZipBaseArchiver*, const std::string& folder,
                                const archive::TZipBaseArchiver::TFolderMadeCallback& made) {
    transaction->MakeFolder(folder, made);
  };
  archiver_.OnStageFile = [&transaction](archive::TZipBaseArchiver*, const std::string& file,
                                         unsigned mode) { return transaction->Stage(file, mode); };
  struct Unhook {
    TUpdaterArchiver& archiver;
    ~Unhook() {
      archiver.OnStageFolder = nullptr;
      archiver.OnStageFile = nullptr;
    }
  } unhook{archiver_};
  archiver_.ResetEntryFailures();
  archiver_.ExtractMatching("*.*", base::faAnyEntry, "");
  // An aborted batch leaves the rest of the entries unprocessed.
  const bool complete = !archiver_.EntryFailed() && !archiver_.Cancelled() &&
                        archiver_.ProcessedCount() == archiver_.SelectedCount();
  archiver_.CloseArchiveFile();
  if (!complete) return {};  // the transaction goes, and the staged files with it
  try {
    transaction->Commit();
  } catch (const ETransactionError& e) {
    return {false, "Failed to install " + name + ": " + e.what()};
  }
  return {true, {}};
}

}  // namespace krevo::app
