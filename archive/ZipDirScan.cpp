// The signature searches of TZipDirManager: prefix detection and the rebuild
// of the items from local headers.
#include <algorithm>
#include <vector>

#include "archive/ZipBaseArchiver.h"
#include "archive/ZipDirManager.h"
#include "archive/ZipException.h"
#include "archive/ZipExtraFields.h"
#include "base/Streams.h"

namespace krevo::archive {
namespace {

bool ReadLocal(base::TStream& s, std::int64_t pos, TLocalHeader& h) {
  std::uint8_t b[TLocalHeader::kSize];
  s.SetPosition(pos);
  s.ReadBuffer(b, sizeof b);
  ByteCursor c(b, sizeof b);
  return h.Parse(c);
}

}  // namespace

bool TZipDirManager::SameLocalSizes(std::int64_t at, const TLocalHeader& h, const TDirItem& item) {
  if (h.compressedSize != 0xFFFFFFFF && h.uncompressedSize != 0xFFFFFFFF)
    return h.compressedSize == item.header.compressedSize &&
           h.uncompressedSize == item.header.uncompressedSize;
  // A Zip64 local header keeps its sizes in its Zip64 block, the
  // uncompressed one first, each where the header holds the marker; the
  // central header may hold them in 32 bits all the same.
  base::TStream& s = Stream();
  const std::int64_t from = at + static_cast<std::int64_t>(TLocalHeader::kSize) + h.nameLength;
  if (s.Size() - from < h.extraLength) return false;
  std::vector<std::uint8_t> raw(h.extraLength);
  s.SetPosition(from);
  s.ReadBuffer(raw.data(), static_cast<std::int64_t>(raw.size()));
  for (const TExtraBlock& b : ParseExtraBlocks(raw.data(), raw.size())) {
    if (b.headerId != 1) continue;
    ByteCursor z(b.data.data(), b.data.size());
    std::uint64_t unpacked = h.uncompressedSize, packed = h.compressedSize;
    if (h.uncompressedSize == 0xFFFFFFFF) unpacked = z.U64();
    if (h.compressedSize == 0xFFFFFFFF) packed = z.U64();
    return z.Ok() && unpacked == item.UncompressedSize() && packed == item.CompressedSize();
  }
  return false;
}

std::int64_t TZipDirManager::FindSignature(std::int64_t from, std::uint32_t sig,
                                           std::size_t chunk, std::int64_t minAfter) {
  base::TStream& s = Stream();
  const std::int64_t size = s.Size();
  std::vector<std::uint8_t> buf(chunk);
  std::int64_t pos = std::max<std::int64_t>(from, 0);
  while (pos + 4 <= size) {
    std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(chunk), size - pos);
    s.SetPosition(pos);
    s.ReadBuffer(buf.data(), n);
    for (std::int64_t i = 0; i + 4 <= n; ++i) {
      if (buf[i] != 'P' || LoadU32(&buf[i]) != sig) continue;
      std::int64_t hit = pos + i;
      // Every later hit has even fewer bytes after it.
      return size - hit >= minAfter ? hit : -1;
    }
    if (pos + n >= size) break;
    pos += n - 3;  // a signature may straddle two chunks
  }
  return -1;
}

void TZipDirManager::DetectPrefix(std::int64_t endPos) {
  prefixLength_ = 0;
  if (items_.UsedCount() == 0) {
    prefixLength_ = endPos;
    return;
  }
  base::TStream& s = Stream();
  const TCentralHeader& want = items_.ItemPtr(0).header;
  std::int64_t from = static_cast<std::int64_t>(
      std::min<std::uint64_t>(items_.ItemPtr(0).LocalOffset(), s.Size()));
  while (true) {
    std::int64_t hit = FindSignature(from, kLocalHeaderSig, 10000, TLocalHeader::kSize);
    if (hit < 0) break;
    TLocalHeader h;
    ReadLocal(s, hit, h);
    // A header written before its data knows neither CRC nor sizes (flag bit
    // 3): they are zero there and are not held against the central ones.
    bool streamed = (h.flags & 0x08) != 0;
    bool same = h.versionNeeded == want.versionNeeded && h.method == want.method &&
                h.time == want.time && h.date == want.date &&
                (streamed || (h.crc == want.crc && SameLocalSizes(hit, h, items_.ItemPtr(0))));
    if (hit == 0 || same) {
      prefixLength_ = hit;
      break;
    }
    from = hit + 1;
  }
  if (prefixLength_ == 0) return;
  for (int i = 0; i < items_.UsedCount(); ++i) {
    const TDirItem& item = items_.ItemPtr(i);
    if (item.CompressedSize() == 0) continue;
    if (item.LocalOffset() >= static_cast<std::uint64_t>(prefixLength_)) return;
    break;
  }
  for (int i = 0; i < items_.UsedCount(); ++i) {
    TDirItem& item = items_.ItemPtr(i);
    if (item.header.externalAttributes & kAttrDirectory) continue;
    std::uint64_t moved = item.LocalOffset() + static_cast<std::uint64_t>(prefixLength_);
    if (item.header.localOffset != 0xFFFFFFFF && moved < 0xFFFFFFFF) {
      item.header.localOffset = static_cast<std::uint32_t>(moved);
    } else {
      item.header.localOffset = 0xFFFFFFFF;
      item.zip64LocalOffset = moved;
    }
  }
}

void TZipDirManager::Rebuild() {
  rebuilt_ = true;
  items_.ClearItems();
  if (archiver_.SpanningMode() != smNone) throw EZipException(44);
  base::TStream& s = Stream();
  const std::int64_t size = s.Size();
  std::int64_t hit = FindSignature(0, kLocalHeaderSig, 65535, TLocalHeader::kSize);
  if (hit < 0) throw EZipException(35);
  for (; hit >= 0; hit = FindSignature(hit + 4, kLocalHeaderSig, 65535, TLocalHeader::kSize)) {
    TLocalHeader h;
    ReadLocal(s, hit, h);
    if (h.extraLength > 260) continue;
    TDirItem item;
    TCentralHeader& c = item.header;
    c.signature = h.signature;
    c.versionMadeBy = c.versionNeeded = h.versionNeeded;
    c.flags = h.flags;
    c.method = h.method;
    c.time = h.time;
    c.date = h.date;
    c.crc = h.crc;
    c.compressedSize = h.compressedSize;
    c.uncompressedSize = h.uncompressedSize;
    c.nameLength = h.nameLength;
    c.extraLength = h.extraLength;
    c.localOffset = static_cast<std::uint32_t>(std::min<std::int64_t>(hit, 0xFFFFFFFF));
    item.zip64LocalOffset = static_cast<std::uint64_t>(hit);
    std::string name;
    std::int64_t nameAt = hit + static_cast<std::int64_t>(TLocalHeader::kSize);
    if (size - nameAt >= h.nameLength) {
      // The extra field too, when the file holds it: its timestamps are the
      // entry's true time.
      const bool withExtra = size - nameAt >= std::int64_t{h.nameLength} + h.extraLength;
      std::vector<std::uint8_t> raw(h.nameLength + (withExtra ? h.extraLength : 0));
      s.SetPosition(nameAt);
      s.ReadBuffer(raw.data(), static_cast<std::int64_t>(raw.size()));
      if (withExtra) item.extra = ParseExtraBlocks(raw.data() + h.nameLength, h.extraLength);
      name = ConvertName(raw.data(), h.nameLength, h.flags, c.versionMadeBy, item.extra);
    }
    // A Zip64 local header keeps its sizes in its Zip64 block, each where
    // the header holds the marker (the uncompressed one first).
    bool sized = h.compressedSize != 0xFFFFFFFF && h.uncompressedSize != 0xFFFFFFFF;
    for (const TExtraBlock& b : item.extra) {
      if (b.headerId != 1 || sized) continue;
      ByteCursor z(b.data.data(), b.data.size());
      item.hasZip64 = true;
      if (h.uncompressedSize == 0xFFFFFFFF) item.zip64Uncompressed = z.U64();
      if (h.compressedSize == 0xFFFFFFFF) item.zip64Compressed = z.U64();
      sized = z.Ok();
    }
    if (!sized || item.CompressedSize() >= static_cast<std::uint64_t>(size)) continue;
    // An empty file is a file: only a name ending in '/' (or a nameless empty
    // entry) makes a folder.
    bool folder = (!name.empty() && name.back() == '/') ||
                  (name.empty() && h.uncompressedSize == 0 && !(h.flags & 0x08));
    c.externalAttributes = folder ? kAttrDirectory : kAttrArchive;
    if (h.flags & 0x08) {
      std::int64_t dd = FindSignature(hit, kDataDescriptorSig, 65535, 16);
      if (dd >= 0) {
        std::uint8_t b[16];
        s.SetPosition(dd);
        s.ReadBuffer(b, sizeof b);
        c.crc = LoadU32(b + 4);
        c.compressedSize = LoadU32(b + 8);
        c.uncompressedSize = LoadU32(b + 12);
      } else {
        // Cut off before its descriptor: the local header's zeros would pass
        // the entry as an empty file in place of an installed one.
        item.unverifiable = true;
      }
    }
    int i = items_.UsedCount();
    items_.SetCount(i + 1);
    items_.ItemPtr(i) = std::move(item);
    items_.RenameItem(i, name);
  }
  centralDirStart_ = size;
}

}  // namespace krevo::archive
