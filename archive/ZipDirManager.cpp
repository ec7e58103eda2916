#include "archive/ZipDirManager.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/ZipBaseArchiver.h"
#include "archive/ZipException.h"
#include "archive/ZipExtraFields.h"
#include "base/CodePage.h"
#include "base/Streams.h"

namespace krevo::archive {
namespace {

constexpr std::int64_t kEndWindow = 65600;

std::vector<std::uint8_t> ReadAt(base::TStream& s, std::int64_t pos, std::size_t n) {
  std::vector<std::uint8_t> buf(n);
  s.SetPosition(pos);
  s.ReadBuffer(buf.data(), static_cast<std::int64_t>(n));
  return buf;
}

// Raised inside the entry reader to fall back to the rebuild.
struct DamagedDirectory {};

}  // namespace

TZipDirManager::TZipDirManager(TZipBaseArchiver& archiver, bool) : archiver_(archiver) {}

base::TStream& TZipDirManager::Stream() { return archiver_.ArchiveStream(); }

std::int32_t TZipDirManager::LastDisk() const {
  if (end_.diskNumber != 0xFFFF) return end_.diskNumber;
  return isZip64_ ? static_cast<std::int32_t>(locator_.totalDisks) - 1 : 0;
}

std::int32_t TZipDirManager::ItemDisk(const TDirItem& item) const {
  if (item.header.diskStart != 0xFFFF) return item.header.diskStart;
  return isZip64_ ? static_cast<std::int32_t>(item.zip64DiskStart) : 0;
}

std::string TZipDirManager::ConvertName(const std::uint8_t* bytes, std::size_t size,
                                        std::uint16_t flags, std::uint16_t versionMadeBy,
                                        const std::vector<TExtraBlock>& extra) const {
  if (size == 0) return std::string();
  const auto* end = static_cast<const std::uint8_t*>(std::memchr(bytes, 0, size));
  std::string raw(reinterpret_cast<const char*>(bytes), end ? end - bytes : size);
  // Bit 11 marks a UTF-8 name, which is the build's own code page already.
  if (flags & 0x0800) return raw;
  // Names made on DOS and Windows are in the OEM code page. Elsewhere zip
  // tools store the system's own (UTF-8) names without setting bit 11, often
  // with a Unicode Path block beside them: read as CP437 they come out
  // garbled. The CRC in that block ties it to the very bytes stored.
  if (!MadeOnWindows(versionMadeBy)) {
    if (auto name =
            UnicodePathName(extra, std::string_view(reinterpret_cast<const char*>(bytes), size)))
      return *name;
    const unsigned host = versionMadeBy >> 8;
    if ((host == 3 || host == 19) && IsValidUtf8(raw)) return raw;
  }
  if (!archiver_.Options.OEMFileNames) return raw;
  if (std::all_of(raw.begin(), raw.end(), [](char c) { return (c & 0x80) == 0; })) return raw;
  return base::OemToAnsi(raw);
}

bool TZipDirManager::LocateEndRecord(std::int64_t& position) {
  comment_.clear();
  position = -1;
  base::TStream& s = Stream();
  const std::int64_t size = s.Size();
  const std::int64_t window = std::min(size, kEndWindow);
  if (window < 4) return false;
  const std::int64_t base = size - window;
  std::vector<std::uint8_t> buf = ReadAt(s, base, static_cast<std::size_t>(window));
  for (std::int64_t i = window - 1; i >= 3; --i) {
    if (buf[i] != 0x06 || buf[i - 1] != 0x05 || buf[i - 2] != 'K' || buf[i - 3] != 'P') continue;
    const std::int64_t at = i - 3;
    if (window - at < static_cast<std::int64_t>(TEndRecord::kSize)) continue;
    ByteCursor c(buf.data() + at, static_cast<std::size_t>(window - at));
    TEndRecord rec;
    if (!rec.Parse(c) || rec.commentLength != window - at - 22) continue;
    end_ = rec;
    comment_.assign(reinterpret_cast<const char*>(buf.data() + at + 22), rec.commentLength);
    position = base + at;
    return true;
  }
  return false;
}

void TZipDirManager::ReadCentralDir() {
  items_.ClearItems();
  isZip64_ = false;
  ReadItems();
  CheckOverlaps();
}

void TZipDirManager::ReadItems() {
  rebuilt_ = false;
  prefixLength_ = 0;
  std::int64_t pos = -1;
  if (!LocateEndRecord(pos)) return Rebuild();
  endPos_ = pos;
  base::TStream& s = Stream();
  const std::int64_t size = s.Size();
  std::int64_t working = pos;
  if (pos > static_cast<std::int64_t>(TZip64Locator::kSize)) {
    std::vector<std::uint8_t> b = ReadAt(s, pos - 20, TZip64Locator::kSize);
    ByteCursor c(b.data(), b.size());
    TZip64Locator loc;
    if (loc.Parse(c) && loc.signature == kZip64LocatorSig) {
      locator_ = loc;
      isZip64_ = true;
      working -= 20;
    }
  }
  if (isZip64_ && working > static_cast<std::int64_t>(TZip64EndRecord::kSize)) {
    // The record is read where the locator says; an archive moved behind a
    // prefix keeps it directly before the locator, which is tried second.
    bool found = false;
    for (std::uint64_t at : {locator_.endRecordOffset,
                             static_cast<std::uint64_t>(working - TZip64EndRecord::kSize)}) {
      if (at > static_cast<std::uint64_t>(size) || size - at < TZip64EndRecord::kSize) continue;
      std::vector<std::uint8_t> b =
          ReadAt(s, static_cast<std::int64_t>(at), TZip64EndRecord::kSize);
      ByteCursor c(b.data(), b.size());
      TZip64EndRecord rec;
      if (rec.Parse(c) && rec.signature == kZip64EndSig) {
        zip64End_ = rec;
        found = true;
        break;
      }
    }
    if (!found) throw EZipException(40);
    working -= TZip64EndRecord::kSize;
  }
  if (!isZip64_ && end_.totalEntries == 0xFFFF) return Rebuild();
  try {
    ReadEntries(working);
  } catch (const DamagedDirectory&) {
    return Rebuild();
  } catch (const EZipException& e) {
    if (e.NativeError == 45) throw;
    return Rebuild();
  } catch (const base::Exception&) {
    return Rebuild();
  }
  if (LastDisk() == 0) DetectPrefix(pos);
}

void TZipDirManager::ReadEntries(std::int64_t working) {
  // The whole count: one cut to 32 bits would make 2^32 or 2^62 entries none.
  const std::uint64_t count = isZip64_ ? zip64End_.totalEntries : end_.totalEntries;
  std::vector<std::uint8_t> dir;
  std::int64_t start = 0;
  if (archiver_.SpanningMode() != smNone) {
    std::int32_t disk = end_.centralDirDisk != 0xFFFF
                            ? end_.centralDirDisk
                            : (isZip64_ ? static_cast<std::int32_t>(zip64End_.centralDirDisk) : 0);
    std::uint64_t want = isZip64_ ? zip64End_.centralDirSize : end_.centralDirSize;
    std::uint64_t from = isZip64_ ? zip64End_.centralDirOffset : end_.centralDirOffset;
    start = static_cast<std::int64_t>(from);
    // Gathered volume by volume: never more than the volumes really hold.
    while (dir.size() < want) {
      archiver_.OpenVolume(TZipVolumeNumberInfo::Numbered(disk, LastDisk()));
      base::TStream& s = Stream();
      std::int64_t vsize = s.Size();
      if (from > static_cast<std::uint64_t>(vsize)) throw DamagedDirectory{};
      std::uint64_t n = std::min<std::uint64_t>(want - dir.size(), vsize - from);
      std::size_t old = dir.size();
      dir.resize(old + n);
      s.SetPosition(static_cast<std::int64_t>(from));
      s.ReadBuffer(dir.data() + old, static_cast<std::int64_t>(n));
      if (dir.size() < want) {
        if (disk >= LastDisk()) throw DamagedDirectory{};
        ++disk;
        from = 0;
      }
    }
  } else {
    std::int64_t cdSize = isZip64_ ? static_cast<std::int64_t>(zip64End_.centralDirSize)
                                   : static_cast<std::int32_t>(end_.centralDirSize);
    if (cdSize < 0 || cdSize > working) throw DamagedDirectory{};
    if (count > static_cast<std::uint64_t>(cdSize) / kCentralHeaderSize) throw DamagedDirectory{};
    start = working - cdSize;
    std::int64_t size = Stream().Size();
    dir = ReadAt(Stream(), start, static_cast<std::size_t>(size - start));
  }
  ParseEntries(dir.data(), dir.size(), start, count);
}

void TZipDirManager::ParseEntries(const std::uint8_t* data, std::size_t size, std::int64_t startPos,
                                  std::uint64_t count) {
  // Each header takes at least 46 bytes: a count the bytes cannot hold is
  // damage, found before anything is allocated for it.
  if (count > size / kCentralHeaderSize || count > 0x7FFFFFFF) throw DamagedDirectory{};
  items_.SetCount(static_cast<int>(count));
  centralDirStart_ = startPos;
  ByteCursor c(data, size);
  for (int i = 0; i < static_cast<int>(count); ++i) {
    TDirItem& item = items_.ItemPtr(i);
    if (!ParseCentralHeader(c, item.header) || item.header.signature != kCentralHeaderSig)
      throw DamagedDirectory{};
    const std::uint8_t* name = c.Bytes(item.header.nameLength);
    const std::uint8_t* extra = c.Bytes(item.header.extraLength);
    const std::uint8_t* comment = c.Bytes(item.header.commentLength);
    if (!c.Ok()) throw DamagedDirectory{};
    item.extra = ParseExtraBlocks(extra, item.header.extraLength);
    for (const TExtraBlock& block : item.extra) {
      if (block.headerId != 1) continue;
      ByteCursor z(block.data.data(), block.data.size());
      item.hasZip64 = true;
      if (item.header.uncompressedSize == 0xFFFFFFFF && z.Remaining() >= 8)
        item.zip64Uncompressed = z.U64();
      if (item.header.compressedSize == 0xFFFFFFFF && z.Remaining() >= 8)
        item.zip64Compressed = z.U64();
      if (item.header.localOffset == 0xFFFFFFFF && z.Remaining() >= 8)
        item.zip64LocalOffset = z.U64();
      if (item.header.diskStart == 0xFFFF && z.Remaining() >= 2) item.zip64DiskStart = z.U16();
    }
    item.comment.assign(reinterpret_cast<const char*>(comment), item.header.commentLength);
    items_.RenameItem(i, ConvertName(name, item.header.nameLength, item.header.flags,
                                     item.header.versionMadeBy, item.extra));
  }
}

}  // namespace krevo::archive
