#include "archive/ZipExtraFields.h"

#include <algorithm>

#include "archive/ByteCursor.h"
#include "base/Crc32.h"

namespace krevo::archive {
namespace {

constexpr std::uint16_t kUnicodePathId = 0x7075;
constexpr std::uint16_t kTimestampId = 0x5455;
constexpr std::uint16_t kOldUnixId = 0x5855;
constexpr std::uint16_t kNtfsId = 0x000A;
// Seconds from 1601-01-01 to 1970-01-01, both UTC.
constexpr std::int64_t kNtfsToUnix = 11644473600;

const TExtraBlock* Find(const std::vector<TExtraBlock>& extra, std::uint16_t id) {
  for (const TExtraBlock& b : extra)
    if (b.headerId == id) return &b;
  return nullptr;
}

std::optional<struct timespec> FromTimestamp(const TExtraBlock& b) {
  // A flags byte, then the times the flags name, modification time first;
  // the central copy carries the modification time alone.
  ByteCursor c(b.data.data(), b.data.size());
  if (c.Remaining() < 5 || !(c.U8() & 1)) return std::nullopt;
  const auto seconds = static_cast<std::int32_t>(c.U32());
  return timespec{static_cast<std::time_t>(seconds), 0};
}

std::optional<struct timespec> FromOldUnix(const TExtraBlock& b) {
  // The access time, then the modification time (user and group follow in
  // the local copy only).
  ByteCursor c(b.data.data(), b.data.size());
  if (c.Remaining() < 8) return std::nullopt;
  c.Skip(4);
  return timespec{static_cast<std::time_t>(static_cast<std::int32_t>(c.U32())), 0};
}

std::optional<struct timespec> FromNtfs(const TExtraBlock& b) {
  // Four reserved bytes, then tagged attributes; tag 1 holds the
  // modification, access and creation times, 8 bytes each.
  ByteCursor c(b.data.data(), b.data.size());
  if (c.Remaining() < 4) return std::nullopt;
  c.Skip(4);
  while (c.Remaining() >= 4) {
    const std::uint16_t tag = c.U16();
    const std::size_t size = c.U16();
    if (size > c.Remaining()) return std::nullopt;
    if (tag != 1 || size < 24) {
      c.Skip(size);
      continue;
    }
    const std::uint64_t ticks = c.U64();
    // Ticks that would not fit a signed 64-bit count of seconds since 1970
    // are no time at all.
    if (ticks > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
    const auto t = static_cast<std::int64_t>(ticks);
    return timespec{static_cast<std::time_t>(t / 10000000 - kNtfsToUnix),
                    static_cast<long>(t % 10000000 * 100)};
  }
  return std::nullopt;
}

std::optional<struct timespec> FromDos(std::uint32_t dos) {
  // Not a date at all: the first day DOS dates can hold, as other tools do.
  if ((dos >> 16) == 0) dos = (1u << 21) | (1u << 16);
  std::tm t{};
  t.tm_year = static_cast<int>(dos >> 25) + 80;
  t.tm_mon = static_cast<int>((dos >> 21) & 15) - 1;
  t.tm_mday = static_cast<int>((dos >> 16) & 31);
  t.tm_hour = static_cast<int>((dos >> 11) & 31);
  t.tm_min = static_cast<int>((dos >> 5) & 63);
  t.tm_sec = static_cast<int>((dos & 31) * 2);
  t.tm_isdst = -1;
  if (t.tm_mon < 0 || t.tm_mon >= 12 || t.tm_mday < 1 || t.tm_hour >= 24 || t.tm_min >= 60 ||
      t.tm_sec >= 60)
    return std::nullopt;
  // Archives tend to hold many entries of one date-time; the local-time
  // conversion is remembered for the last one.
  static thread_local std::uint32_t lastDos = 0;
  static thread_local std::time_t lastWhen = -1;
  if (dos != lastDos || lastWhen == -1) lastDos = dos, lastWhen = std::mktime(&t);
  if (lastWhen == static_cast<std::time_t>(-1)) return std::nullopt;
  return timespec{lastWhen, 0};
}

}  // namespace

std::vector<TExtraBlock> ParseExtraBlocks(const std::uint8_t* data, std::size_t size) {
  std::vector<TExtraBlock> blocks;
  if (!data) return blocks;
  ByteCursor x(data, size);
  while (x.Remaining() >= 4) {
    TExtraBlock block;
    block.headerId = x.U16();
    const std::size_t declared = x.U16();
    const std::size_t len = std::min(declared, x.Remaining());
    const std::uint8_t* p = x.Bytes(len);
    block.data.assign(p, p + len);
    blocks.push_back(std::move(block));
  }
  return blocks;
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    const unsigned c = *p++;
    if (c == 0) return false;
    if (c < 0x80) continue;
    int more;
    unsigned code;
    if (c >= 0xC2 && c <= 0xDF) {
      more = 1, code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2, code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3, code = c & 0x07;
    } else {
      return false;
    }
    if (end - p < more) return false;
    for (int i = 0; i < more; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      code = code << 6 | (p[i] & 0x3F);
    }
    p += more;
    if ((more == 2 && code < 0x800) || (more == 3 && code < 0x10000) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF))
      return false;
  }
  return true;
}

bool MadeOnWindows(std::uint16_t versionMadeBy) {
  const unsigned host = versionMadeBy >> 8;
  return host == 0 || host == 11 || host == 14;
}

std::optional<std::string> UnicodePathName(const std::vector<TExtraBlock>& extra,
                                           std::string_view storedName) {
  const TExtraBlock* b = Find(extra, kUnicodePathId);
  if (!b || b->data.size() < 5) return std::nullopt;
  ByteCursor c(b->data.data(), b->data.size());
  if (c.U8() != 1) return std::nullopt;
  if (c.U32() != base::Crc32(storedName.data(), storedName.size())) return std::nullopt;
  std::string name(reinterpret_cast<const char*>(b->data.data() + 5), b->data.size() - 5);
  if (name.empty() || !IsValidUtf8(name)) return std::nullopt;
  return name;
}

std::optional<struct timespec> ModificationTime(const TDirItem& item) {
  if (const TExtraBlock* b = Find(item.extra, kTimestampId))
    if (auto t = FromTimestamp(*b)) return t;
  if (const TExtraBlock* b = Find(item.extra, kOldUnixId))
    if (auto t = FromOldUnix(*b)) return t;
  if (const TExtraBlock* b = Find(item.extra, kNtfsId))
    if (auto t = FromNtfs(*b)) return t;
  return FromDos(item.DosDateTime());
}

}  // namespace krevo::archive
