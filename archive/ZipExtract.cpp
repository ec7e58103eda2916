// The extraction driver of TZipBaseArchiver: selection, the batch with its
// events and per-item failure handling, and the writing of one item.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "archive/ZipBaseArchiver.h"
#include "archive/ZipDecoder.h"
#include "archive/ZipDirManager.h"
#include "archive/ZipException.h"
#include "archive/ZipExtraFields.h"
#include "archive/ZipFolderStamps.h"
#include "archive/ZipHost.h"
#include "archive/ZipRemover.h"
#include "archive/ZipTempFile.h"
#include "base/ControlEscape.h"
#include "base/Errors.h"
#include "base/FileDescriptor.h"
#include "base/FileSystem.h"
#include "base/FolderBeneath.h"
#include "base/Paths.h"
#include "base/Streams.h"

namespace krevo::archive {
namespace {

// Serialises the batches of every component in the process; a handler may
// start another batch on the same thread.
std::recursive_mutex& BatchLock() {
  static std::recursive_mutex lock;
  return lock;
}

// A stored name that would leave the destination folder: absolute, with a
// drive or UNC prefix, or with a ".." segment ('/' or '\' separators).
bool LeavesFolder(const std::string& name) {
  if (name.empty()) return false;
  if (name[0] == '/' || name[0] == '\\') return true;
  if (name.size() >= 2 && name[1] == ':') return true;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

// Creates `path` with its missing parents; `stamps` (may be null) learns of
// every folder created. For the base folder, which is taken as given.
bool ForceDirectories(const std::string& path, TZipFolderStamps* stamps) {
  if (path.empty()) return false;
  if (base::DirectoryExists(path)) return true;
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  std::string parent = base::ExtractFilePath(p);
  if (!parent.empty() && parent != p && !base::DirectoryExists(parent) &&
      !ForceDirectories(parent, stamps))
    return false;
  if (base::CreateDir(p)) {
    if (stamps) stamps->Created(p);
  } else if (!base::DirectoryExists(p)) {
    return false;
  }
  return true;
}

// The base folder of this batch and the folder below it that the last file
// went into, open: a batch writes many files into few folders. Forgotten at
// the start of every batch. The descriptors name the folders that were
// reached without a link, whatever is put at their paths later. An item
// holds its folder's share while a batch that a handler starts clears them.
struct OpenFolders {
  std::string basePath;
  base::UniqueFd base;
  std::string lastPath;  // relative to the base
  std::shared_ptr<const base::UniqueFd> last;
  void Clear() { *this = OpenFolders(); }
};
OpenFolders gFolders;

// The folder `relative` ('/' separators) below `baseFolder` (given, created
// with its parents when missing and `create`), created when missing and
// `create`, reached without following a link below the base: a share of
// its descriptor. Throws EZipException 20 naming the folder when it cannot
// be made or reached (a link is never followed to reach it).
std::shared_ptr<const base::UniqueFd> FolderBeneath(const TZipBaseArchiver* owner,
                                                    const std::string& baseFolder,
                                                    const std::string& relative, bool create,
                                                    TZipFolderStamps* stamps) {
  OpenFolders& f = gFolders;
  const std::string shown = baseFolder + relative;
  if (!f.base || f.basePath != baseFolder) {
    f.Clear();
    const std::string path = baseFolder.empty() ? "." : baseFolder;
    if (create && !ForceDirectories(path, stamps)) throw EZipException::Fmt(20, owner, {path});
    f.base.Reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
    if (!f.base) throw EZipException::Fmt(20, owner, {path});
    f.basePath = baseFolder;
  }
  if (f.last && f.lastPath == relative) return f.last;
  f.last.reset();
  std::string cut = relative;
  while (!cut.empty() && cut.back() == '/') cut.pop_back();
  base::UniqueFd fd = base::OpenFolderBeneath(f.base.get(), cut, create,
                                              [&](const std::string& made, const struct stat& st) {
                                                if (stamps) stamps->Created(baseFolder + made, st);
                                              });
  if (!fd) throw EZipException::Fmt(20, owner, {shown});
  f.last = std::make_shared<const base::UniqueFd>(std::move(fd));
  f.lastPath = relative;
  return f.last;
}

// The permission bits asked for an extracted file, which the process umask
// then reduces as it does for any file the process creates (0777 becomes
// 0755 under umask 022, as root too): a stored Unix mode (made on Unix, high
// 16 bits) without set-id and sticky bits, else 0666; the DOS read-only bit
// takes every write permission away.
unsigned ModeFor(const TDirItem& item, std::uint32_t attributes, bool apply) {
  unsigned mode = 0666;
  if (!apply) return mode;
  if ((item.header.versionMadeBy >> 8) == 3 && (attributes >> 16) != 0)
    mode = (attributes >> 16) & 0777;
  if (attributes & kAttrReadOnly) mode &= ~0222u;
  return mode;
}

// A folder's stored mode (made on Unix), else none: the folder keeps the
// mode it was created with. The DOS read-only bit means nothing on a folder.
std::optional<unsigned> FolderModeFor(const TDirItem& item, std::uint32_t attributes, bool apply) {
  if (!apply || (item.header.versionMadeBy >> 8) != 3 || (attributes >> 16) == 0)
    return std::nullopt;
  return (attributes >> 16) & 0777;
}

// Whether a folder lies on removable media, remembered per folder: a batch
// writes many files into few folders.
bool RemovableFolder(const std::string& folder) {
  static std::unordered_map<std::string, bool> known;
  auto it = known.find(folder);
  if (it != known.end()) return it->second;
  if (known.size() > 4096) known.clear();
  return known[folder] = IsRemovablePath(folder.empty() ? "." : folder);
}

}  // namespace

void TZipBaseArchiver::ExtractMatching(const std::string& mask, std::uint32_t searchAttr,
                                       const std::string& exclusionMask) {
  if (!open_ || !manager_) throw EZipException(13, this);
  MarkMatching(mask, searchAttr, exclusionMask);
  ProcessMarkedItems(poExtract);
}

void TZipBaseArchiver::MarkMatching(const std::string& mask, std::uint32_t searchAttr,
                                    const std::string& exclusionMask) {
  if (!open_ || !manager_) throw EZipException(13, this);
  TZipDirArray& items = manager_->Items();
  items.ClearMarks();
  TZipArchiveItem item;
  for (bool f = FindFirstEntry(mask, item, searchAttr, exclusionMask); f; f = FindNextEntry(item))
    items.ItemPtr(item.SearchState.index).marked = true;
}

void TZipBaseArchiver::ProcessMarkedItems(TZipProcessOperation op) {
  std::lock_guard<std::recursive_mutex> guard(BatchLock());
  if (!manager_) throw EZipException(13, this);
  TZipDirArray& items = manager_->Items();
  gFolders.Clear();
  // A batch that a handler starts inside this one stamps its own folders.
  TZipFolderStamps stamps;
  struct Restore {
    TZipFolderStamps*& slot;
    TZipFolderStamps* old;
    ~Restore() { slot = old; }
  } restore{folderStamps_, std::exchange(folderStamps_, &stamps)};
  processed_ = 0;
  selected_ = 0;
  cancel_ = false;
  progress_ = true;
  for (int i = 0; i < items.UsedCount(); ++i) selected_ += items.ItemPtr(i).marked;
  const bool reports = op == poExtract || op == poTest;
  if (reports) NotifyOverallProgress(op, ppStart, cancel_, 0.0);
  for (int i = 0; !cancel_ && i < items.UsedCount();) {
    TDirItem& item = items.ItemPtr(i);
    if (!item.marked) {
      ++i;
      continue;
    }
    item.operation = op;
    TZipAction action;
    do {
      action = fxaIgnore;
      const std::string name = item.name;
      try {
        bool confirm = true;
        AskProcessFile(name, op, confirm);
        if (!confirm) break;
        // An empty BaseDir means the current folder: the root of the file
        // system is never a silent default.
        std::string folder = BaseDir.empty() ? defaultFolder_ : BaseDir;
        if (folder.empty()) folder = "./";
        if (folder.back() != '/') folder += '/';
        if (reports) NotifyFileProgress(name, op, cancel_, ppStart, 0.0);
        if (cancel_) break;
        if (op == poExtract) {
          ExtractItem(i, name, folder);
        } else if (op == poTest) {
          base::TNullStream sink;
          ExtractItemToStream(i, sink);
        }
        if (reports) {
          bool c = cancel_;
          NotifyFileProgress(name, op, c, ppEnd, 100.0);
          cancel_ = cancel_ || c;
        }
        if (cancel_) break;
        ++processed_;
      } catch (const EZipException& e) {
        HandleFileFailure(name, op, e.NativeError, e.ErrorCode, e.what(), action);
      }
    } while (action == fxaRetry);
    if (action == fxaAbort || cancel_) break;
    ++i;
  }
  // The files that replaced ones are in place; the old ones go before the
  // batch is reported over.
  TZipRemover::Instance().Drain();
  // Nothing more is written into the folders now.
  stamps.Apply();
  if (reports) {
    bool c = cancel_;
    NotifyOverallProgress(op, ppEnd, c, 100.0);
    cancel_ = cancel_ || c;
  }
  progress_ = false;
}

void TZipBaseArchiver::ExtractItem(int index, const std::string& name,
                                   const std::string& destFolder) {
  const TDirItem& item = manager_->Items().ItemPtr(index);
  std::string fileName = name;
  std::uint32_t attributes = item.header.externalAttributes;
  NotifyExtractFile(fileName, attributes, item.comment);
  // No file or folder gets a name with control characters, whoever chose
  // it: such a name forges lines in a log and steers a terminal that shows
  // it. A stored name may not leave the destination either; a path the
  // owner's handler gives is its own decision. The messages show the names
  // escaped.
  if (base::HasControlCharacters(fileName))
    throw EZipException::Fmt(19, this, {base::EscapeControlCharacters(fileName)});
  if (fileName == name && LeavesFolder(name))
    throw EZipException::Fmt(19, this, {base::EscapeControlCharacters(name)});
  // The folders below the base are reached without following links; the
  // base, and the folder of a path that a handler gives, are taken as given.
  std::string folder = destFolder;
  std::string below = base::ExtractFilePath(fileName);
  if (!fileName.empty() && fileName[0] == '/') {
    folder = below;
    below.clear();
  }
  if (!Options.CreateDirs) {
    fileName = base::ExtractFileName(fileName);
    below.clear();
  }
  if (item.IsFolder() && !Options.CreateDirs) return;
  // An owner that stages the files makes the folders, each recorded before
  // it is made; a path of the handler's own is none of the staging's.
  const bool staging = OnStageFile && OnStageFolder;
  if (staging) {
    if (folder != destFolder) throw EZipException::Fmt(19, this, {fileName});
    std::string relative = below;
    while (!relative.empty() && relative.back() == '/') relative.pop_back();
    try {
      OnStageFolder(this, relative, [&](const std::string& made, const struct stat& st) {
        if (folderStamps_) folderStamps_->Created(folder + made, st);
      });
    } catch (const base::Exception&) {
      throw EZipException::Fmt(20, this, {folder + below});
    }
  }
  std::shared_ptr<const base::UniqueFd> at =
      FolderBeneath(this, folder, below, Options.CreateDirs && !staging, folderStamps_);
  if (item.IsFolder()) {
    if (Options.CreateDirs && folderStamps_)
      folderStamps_->Stamp(folder + below, FolderModeFor(item, attributes, Options.SetAttributes),
                           ModificationTime(item));
    return;
  }
  std::string leaf = base::ExtractFileName(fileName);
  std::string dest = folder + below + leaf;
  struct stat st;
  bool exists = ::fstatat(at->get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  // A link is never written through nor replaced: someone who can write
  // this folder may have put it there to lead the file elsewhere.
  if (exists && S_ISLNK(st.st_mode)) throw EZipException::Fmt(19, this, {dest});
  if (exists && !S_ISDIR(st.st_mode)) {
    if (!Options.ReplaceReadOnly && !(st.st_mode & S_IWUSR)) return;
    auto ours = [&] { return static_cast<std::int32_t>(item.DosDateTime()); };
    auto theirs = [&] { return static_cast<std::int32_t>(base::FileAge(dest).value_or(0)); };
    switch (Options.OverwriteMode) {
      case omPrompt: {
        bool confirm = false;
        const std::string asked = dest;
        AskOverwrite(fileName, dest, confirm);
        if (!confirm) return;
        if (dest != asked && staging) throw EZipException::Fmt(19, this, {dest});
        if (dest != asked) {
          // A path the handler gives instead: its folder is taken as given.
          at = FolderBeneath(this, base::ExtractFilePath(dest), "", false, folderStamps_);
          leaf = base::ExtractFileName(dest);
          exists = ::fstatat(at->get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
          if (exists && S_ISLNK(st.st_mode)) throw EZipException::Fmt(19, this, {dest});
        }
        break;
      }
      case omAlways:
        break;
      case omNever:
        return;
      case omIfNewer:
        if (!(ours() > theirs())) return;
        break;
      case omIfOlder:
        if (!(ours() < theirs())) return;
        break;
    }
  }
  // The entry goes into a new file beside the destination, which replaces
  // the destination only once the data verified: a failure, a skip or a
  // cancel leaves an existing file exactly as it was.
  std::unique_ptr<TZipTempFile> temp;
  try {
    const unsigned mode = ModeFor(item, attributes, Options.SetAttributes);
    if (staging)
      temp = std::make_unique<TZipTempFile>(OnStageFile(this, below + leaf, mode), dest);
    else
      temp = std::make_unique<TZipTempFile>(at->get(), leaf, dest, exists, mode);
  } catch (const base::EAbort&) {
    throw;
  } catch (const base::Exception&) {
    throw EZipException::Fmt(19, this, {dest});
  }
  std::exception_ptr failure;
  try {
    ExtractItemToStream(index, temp->Stream());
  } catch (...) {
    failure = std::current_exception();
  }
  temp->Finish(ModificationTime(item),
               Options.FlushBuffers && RemovableFolder(base::ExtractFilePath(dest)));
  if (failure) std::rethrow_exception(failure);
  if (skipFile_ || cancel_) return;
  if (!temp->Commit()) throw EZipException::Fmt(19, this, {dest});
}

void TZipBaseArchiver::ExtractItemToStream(int index, base::TStream& output) {
  if (!manager_ || index < 0 || index >= manager_->Items().UsedCount())
    throw EZipException(16, this);
  const TDirItem& item = manager_->Items().ItemPtr(index);
  OpenVolume(TZipVolumeNumberInfo::Numbered(manager_->ItemDisk(item), manager_->LastDisk()));
  skipFile_ = false;
  itemName_ = item.name;
  itemOp_ = item.operation;
  itemDone_ = 0;
  bool ok = false;
  try {
    ArchiveStream().SetPosition(
        static_cast<std::int64_t>(std::min<std::uint64_t>(item.LocalOffset(), INT64_MAX)));
    ok = DecodeEntry(index, output);
  } catch (const base::EStreamError&) {
    ok = false;
  }
  if (!ok && !cancel_ && !ExtractCorruptedFiles && !skipFile_) throw EZipException(8, this);
}

bool TZipBaseArchiver::DecodeEntry(int index, base::TStream& output) {
  TZipDecoder decoder(*this, manager_->Items().ItemPtr(index), output);
  return decoder.Run();
}

void TZipBaseArchiver::ReportDecodeProgress() {
  if (!progress_) return;
  double file = itemTotal_ > 0 ? static_cast<double>(itemDone_) / itemTotal_ : 0.0;
  NotifyFileProgress(itemName_, itemOp_, cancel_, ppProcess, file * 100.0);
  if (cancel_) return;
  double all = selected_ > 0 ? (file + processed_) / selected_ * 100.0 : 0.0;
  NotifyOverallProgress(itemOp_, ppProcess, cancel_, all);
}

}  // namespace krevo::archive
