#include "archive/ZipBaseArchiver.h"

#include <algorithm>
#include <cctype>

#include "archive/ZipDirManager.h"
#include "archive/ZipException.h"
#include "archive/ZipHost.h"
#include "archive/ZipMasks.h"
#include "base/Dialogs.h"
#include "base/FileSystem.h"
#include "base/Paths.h"
#include "base/Streams.h"

namespace krevo::archive {
namespace {

std::string LowerAscii(std::string s) { return TZipHashedStringList::LowerAscii(std::move(s)); }

// The folder part of a stored name ('/' separators), one trailing '/'
// removed first, lower-cased.
std::string FolderOf(std::string name) {
  if (!name.empty() && name.back() == '/') name.pop_back();
  std::size_t slash = name.rfind('/');
  return LowerAscii(slash == std::string::npos ? std::string() : name.substr(0, slash + 1));
}

// Removes "X:" or "//server/share" from the front of a mask, and then the
// separators that led into the root.
std::string StripDrive(std::string mask) {
  if (mask.size() >= 2 && mask[1] == ':' && std::isalpha(static_cast<unsigned char>(mask[0]))) {
    mask.erase(0, 2);
  } else if (mask.rfind("//", 0) == 0) {
    std::size_t server = mask.find('/', 2);
    std::size_t share = server == std::string::npos ? server : mask.find('/', server + 1);
    mask = share == std::string::npos ? std::string() : mask.substr(share);
  } else {
    return mask;
  }
  mask.erase(0, mask.find_first_not_of('/') == std::string::npos ? mask.size()
                                                                   : mask.find_first_not_of('/'));
  return mask;
}

}  // namespace

TZipBaseArchiver::TZipBaseArchiver() = default;

TZipBaseArchiver::~TZipBaseArchiver() { CloseArchiveFile(); }

void TZipBaseArchiver::SetCompressionLevel(TZipCompressionLevel level) {
  static constexpr int kModes[] = {0, 1, 6, 9};
  level_ = level;
  mode_ = kModes[level];
  UpdateCompressionMethod();
}

void TZipBaseArchiver::SetCompressionMode(int mode) {
  if (mode < 0 || mode > 9) throw EZipException(5, this);
  mode_ = mode;
  level_ = mode == 0 ? clNone : mode <= 3 ? clFastest : mode <= 6 ? clNormal : clMax;
  UpdateCompressionMethod();
}

void TZipBaseArchiver::SetSpanningMode(TZipSpanningMode mode) {
  if (open_) throw base::Exception("Cannot set spanning mode on open archive");
  spanning_ = mode;
}

void TZipBaseArchiver::SetInMemory(bool value) {
  if (value == inMemory_) return;
  if (!open_) {
    inMemory_ = value;
    return;
  }
  if (!value && FileName.empty()) throw EZipException(29, this);
  if (!value) {
    // The memory archive's bytes become the file, which is then opened.
    auto* memory = dynamic_cast<base::TMemoryStream*>(stream_.get());
    if (memory) {
      base::TFileStream file(FileName, base::fmCreate);
      file.WriteBuffer(memory->Bytes().data(), memory->Size());
    }
  }
  CloseArchiveFile();
  inMemory_ = value;
  if (!inMemory_ && base::ExtractFileName(FileName).empty()) throw EZipException(9, this);
  if (inMemory_ || !base::FileExists(FileName)) {
    OpenArchiveFile(-1);
    return;
  }
  try {
    OpenArchiveFile(0x22);
  } catch (const base::EStreamError&) {
    OpenArchiveFile(0x40);
  }
}

base::TStream& TZipBaseArchiver::ArchiveStream() {
  if (!stream_) throw EZipException(13, this);
  return *stream_;
}

void TZipBaseArchiver::OpenStream(const std::string& path, int mode) {
  unsigned fm = mode == -1 ? base::fmCreate : static_cast<unsigned>(mode & 3);
  // The sharing bits have no equivalent here beyond an advisory lock, which
  // nothing else honours; they are accepted and not applied.
  stream_ = std::make_unique<base::TFileStream>(path, fm);
}

void TZipBaseArchiver::OpenArchiveFile(int mode) {
  if (!inMemory_ && base::ExtractFileName(FileName).empty()) throw EZipException(10, this);
  if (!(mode == -1 || base::FileExists(FileName) || spanning_ == smSpanning ||
        IsRemovablePath(FileName)))
    throw EZipException::Fmt(12, this, {FileName});
  if (mode != -1 && inMemory_) throw EZipException::Fmt(28, this, {FileName});
  CloseArchiveFile();
  callerStream_ = false;
  openMode_ = mode;
  if (mode == -1 || inMemory_) {
    if (inMemory_)
      stream_ = std::make_unique<base::TMemoryStream>();
    else
      OpenVolume(TZipVolumeNumberInfo::First());
    manager_ = std::make_unique<TZipDirManager>(*this, true);
  } else {
    spanning_ = smNone;
    volume_.Reset();
    if (LowerAscii(base::ExtractFileName(FileName)).find(".exe") != std::string::npos)
      SfxProbe();
    else
      PlainProbe();
    manager_->ReadCentralDir();
  }
  open_ = true;
  if (AfterOpen) AfterOpen(this);
}

void TZipBaseArchiver::OpenArchiveStream(std::unique_ptr<base::TStream> stream,
                                         std::string displayName) {
  if (!stream) throw EZipException(13, this);
  CloseArchiveFile();
  callerStream_ = false;
  openMode_ = 0;
  FileName = std::move(displayName);
  // One volume, the stream itself: with no spanning, OpenVolume keeps the
  // stream it has instead of opening FileName.
  spanning_ = smNone;
  inMemory_ = false;
  volume_.Reset();
  volumeName_ = FileName;
  stream_ = std::move(stream);
  try {
    manager_ = std::make_unique<TZipDirManager>(*this, false);
    manager_->ReadCentralDir();
  } catch (...) {
    CloseArchiveFile();
    throw;
  }
  open_ = true;
  if (AfterOpen) AfterOpen(this);
}

void TZipBaseArchiver::CloseArchiveFile() noexcept {
  if (open_) {
    try {
      // A newly created archive gets the directory of an empty archive.
      if (stream_ && stream_->Size() == 0) {
        static constexpr std::uint8_t kEmpty[22] = {'P', 'K', 5, 6};
        stream_->WriteBuffer(kEmpty, sizeof kEmpty);
      }
    } catch (...) {
    }
    open_ = false;
  }
  if (!callerStream_) stream_.reset();
  manager_.reset();
}

bool TZipBaseArchiver::DirectoryRebuilt() const {
  return open_ && manager_ && manager_->Rebuilt();
}

int TZipBaseArchiver::EntryCount() {
  if (!open_) throw EZipException(13, this);
  bool saved = Options.Recurse;
  Options.Recurse = true;
  int folders = 0;
  try {
    TZipArchiveItem item;
    for (bool f = FindFirstEntry("*.*", item, 16); f; f = FindNextEntry(item))
      if (item.Attributes & kAttrDirectory) ++folders;
  } catch (...) {
    Options.Recurse = saved;
    throw;
  }
  Options.Recurse = saved;
  return manager_->Items().UsedCount() - folders;
}

bool TZipBaseArchiver::FindFirstEntry(const std::string& mask, TZipArchiveItem& item,
                                      std::uint32_t searchAttr, const std::string& exclusionMask) {
  if (!open_ || !manager_) throw EZipException(13, this);
  std::string m = mask;
  std::replace(m.begin(), m.end(), '\\', '/');
  if (Options.StorePath != spFullPathWithDrive) m = StripDrive(m);
  if (m.size() > 259) return false;
  TInternalSearchRec& s = item.SearchState;
  s.mask = m;
  s.exclusionMask = exclusionMask;
  std::replace(s.exclusionMask.begin(), s.exclusionMask.end(), '\\', '/');
  s.useMaskLists = false;
  s.hasWildcards = m.find_first_of("*?") != std::string::npos;
  s.searchAttr = searchAttr;
  s.index = 0;
  if (!s.hasWildcards && !m.empty() && m.back() != '.') {
    // Only the items that share a key with the mask can match it; the first
    // of them that passes is the first in archive order that would.
    const std::string maskFolder = Options.Recurse ? std::string() : FolderOf(s.mask);
    for (int i : manager_->Items().MaskCandidates(m)) {
      if (!Accepts(manager_->Items().ItemPtr(i), s, maskFolder)) continue;
      Fill(i, item);
      return true;
    }
    return false;
  }
  return Scan(item);
}

bool TZipBaseArchiver::FindNextEntry(TZipArchiveItem& item) {
  if (!open_ || !manager_) throw EZipException(13, this);
  ++item.SearchState.index;
  return Scan(item);
}

bool TZipBaseArchiver::Scan(TZipArchiveItem& item) {
  TZipDirArray& items = manager_->Items();
  TInternalSearchRec& s = item.SearchState;
  const std::string maskFolder = Options.Recurse ? std::string() : FolderOf(s.mask);
  for (int i = std::max(s.index, 0); i < items.UsedCount(); ++i) {
    if (!Accepts(items.ItemPtr(i), s, maskFolder)) continue;
    Fill(i, item);
    return true;
  }
  return false;
}

bool TZipBaseArchiver::Accepts(const TDirItem& d, const TInternalSearchRec& s,
                               const std::string& maskFolder) const {
  if (!Options.Recurse && FolderOf(d.name) != maskFolder) return false;
  if (!MatchItem(d.name, s)) return false;
  return (d.header.externalAttributes & 0x1E & ~s.searchAttr) == 0;
}

void TZipBaseArchiver::Fill(int i, TZipArchiveItem& item) {
  const TDirItem& d = manager_->Items().ItemPtr(i);
  item.SearchState.index = i;
  std::string name = d.name;
  if (!name.empty() && name.back() == '/') name.pop_back();
  std::size_t slash = name.rfind('/');
  item.ItemFolder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
  item.ItemName = slash == std::string::npos ? name : name.substr(slash + 1);
  item.PackedSize = static_cast<std::int64_t>(d.CompressedSize());
  item.UnpackedSize = static_cast<std::int64_t>(d.UncompressedSize());
  if (item.UnpackedSize == 0) {
    item.PackRatio = 100.0;
  } else {
    double r = (1.0 - static_cast<double>(item.PackedSize) / item.UnpackedSize) * 100.0;
    item.PackRatio = r < 0 ? 0 : r;
  }
  item.IsEncrypted = d.header.flags & 1;
  item.DosDate = d.header.date;
  item.DosTime = d.header.time;
  item.Crc = d.header.crc;
  item.Attributes = d.header.externalAttributes;
  item.Remark = d.comment;
}

}  // namespace krevo::archive
