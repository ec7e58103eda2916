// Names and times from extra blocks and version-made-by: the true name and
// time of entries made outside Windows; Windows entries as designed.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <optional>

#include "archive/ZipArchiver.h"
#include "archive/ZipDirManager.h"
#include "archive/ZipExtraFields.h"
#include "tests/archive/ArchiveTestSupport.h"

namespace krevo::archive {
namespace {

std::string Le(std::uint64_t v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
  return s;
}

TExtraBlock Block(std::uint16_t id, const std::string& data) {
  return TExtraBlock{id, std::vector<std::uint8_t>(data.begin(), data.end())};
}

TExtraBlock UnicodePath(const std::string& stored, const std::string& name, int version = 1,
                        std::uint32_t crcDelta = 0) {
  const auto crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size())));
  return Block(0x7075, Le(version, 1) + Le(crc + crcDelta, 4) + name);
}

TEST(ExtraFields, NamesByTheSystemThatMadeThem) {
  test::TempFolder dir;
  test::ZipTool(dir.Path(), "make basic b.zip");
  TZipArchiver zip;
  zip.FileName = dir / "b.zip";
  zip.OpenArchiveFile(0);
  const std::string u = "\xC3\xBC";  // ü in UTF-8, 0x81 in CP437
  struct Case {
    const char* label;
    std::uint16_t flags, madeBy;
    std::string stored;
    std::vector<TExtraBlock> extra;
    std::string want;
  } cases[] = {
      {"unix utf-8", 0, 0x031E, "h\xC3\xA9llo", {}, "h\xC3\xA9llo"},
      {"macos utf-8", 0, 0x1314, "\xC3\xA9", {}, "\xC3\xA9"},
      {"unix, not utf-8", 0, 0x031E, "\x81x", {}, u + "x"},
      {"unix, a surrogate is not utf-8", 0, 0x031E, "\xED\xA0\x80", {}, "\xCF\x86\xC3\xA1\xC3\x87"},
      {"unix, overlong", 0, 0x031E, "\xC0\xAF", {}, "\xE2\x94\x94\xC2\xBB"},
      {"fat utf-8 bytes stay cp437", 0, 0x0014, "h\xC3\xA9llo", {}, "h\xE2\x94\x9C\xE2\x8C\x90llo"},
      {"unicode path",
       0,
       0x031E,
       "\x81",
       {UnicodePath("\x81", "Gr" + u +
                                "\xC3\x9F"
                                "e")},
       "Gr" + u +
           "\xC3\x9F"
           "e"},
      {"unicode path of another name", 0, 0x031E, "\x81", {UnicodePath("\x81", "zz", 1, 1)}, u},
      {"unicode path version 2", 0, 0x031E, "\x81", {UnicodePath("\x81", "zz", 2)}, u},
      {"unicode path not utf-8", 0, 0x031E, "\x81", {UnicodePath("\x81", "\xC0\xAF")}, u},
      {"unicode path cut short", 0, 0x031E, "\x81", {Block(0x7075, "\x01\x02")}, u},
      {"unicode path, made on ntfs", 0, 0x0B14, "\x81", {UnicodePath("\x81", "zz")}, u},
      {"unicode path, made on vfat", 0, 0x0E14, "\x81", {UnicodePath("\x81", "zz")}, u},
      {"utf-8 flag", 0x0800, 0x0014, "\xC3\xA9", {UnicodePath("\xC3\xA9", "zz")}, "\xC3\xA9"},
  };
  for (const Case& c : cases) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.stored.data());
    EXPECT_EQ(zip.DirManager()->ConvertName(bytes, c.stored.size(), c.flags, c.madeBy, c.extra),
              c.want)
        << c.label;
  }
}

// Times in seconds since 1970 UTC, local DOS date-times in the zone below.
TEST(ExtraFields, ModificationTimeFromTheBestBlock) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  ::setenv("TZ", "XST-14", 1);
  ::tzset();
  const std::uint32_t dos2019 = (39u << 25) | (3u << 21) | (4u << 16) | (19u << 11) | (6u << 5) | 4;
  const std::int64_t dosSeconds = 1551675968;  // 2019-03-04 19:06:08 at +14
  const std::string ntfs = Le(0, 4) + Le(1, 2) + Le(24, 2) +
                           Le((1551675968ull + 11644473600ull) * 10000000 + 5000000, 8) +
                           std::string(16, '\0');
  struct Case {
    const char* label;
    std::vector<TExtraBlock> extra;
    std::uint32_t dos;
    std::optional<std::int64_t> seconds;  // none: no time
    long nanos = 0;
  } cases[] = {
      {"timestamp", {Block(0x5455, "\x01" + Le(1551675968, 4))}, dos2019, 1551675968},
      {"local timestamp with three times",
       {Block(0x5455, "\x07" + Le(1551675968, 4) + Le(1, 4) + Le(2, 4))},
       dos2019,
       1551675968},
      {"timestamp before 1970", {Block(0x5455, "\x01" + Le(0xFFFFFFFF, 4))}, dos2019, -1},
      {"ntfs", {Block(0x000A, ntfs)}, dos2019, 1551675968, 500000000},
      {"old unix block", {Block(0x5855, Le(7, 4) + Le(1551675968, 4))}, dos2019, 1551675968},
      {"old unix block wins over ntfs", {Block(0x000A, ntfs), Block(0x5855, Le(7, 4) + Le(9, 4))},
       dos2019, 9},
      {"old unix block cut short", {Block(0x5855, Le(7, 4))}, dos2019, dosSeconds},
      {"timestamp wins over ntfs",
       {Block(0x000A, ntfs), Block(0x5455, "\x01" + Le(1000, 4))},
       dos2019,
       1000},
      {"timestamp without its mtime", {Block(0x5455, "\x02" + Le(1000, 4))}, dos2019, dosSeconds},
      {"timestamp cut short", {Block(0x5455, "\x01\x02")}, dos2019, dosSeconds},
      {"ntfs without tag 1", {Block(0x000A, Le(0, 4) + Le(2, 2) + Le(0, 2))}, dos2019, dosSeconds},
      {"ntfs tag longer than the block", {Block(0x000A, ntfs.substr(0, 20))}, dos2019, dosSeconds},
      {"dos", {}, dos2019, dosSeconds},
      {"dos date 0 is 1980-01-01", {}, 0x0000A000, 315532800 - 14 * 3600},
      {"impossible dos month", {}, (39u << 25) | (13u << 21) | (4u << 16), std::nullopt},
  };
  for (const Case& c : cases) {
    TDirItem item;
    item.extra = c.extra;
    item.header.date = static_cast<std::uint16_t>(c.dos >> 16);
    item.header.time = static_cast<std::uint16_t>(c.dos);
    auto t = ModificationTime(item);
    if (!c.seconds) {
      EXPECT_FALSE(t) << c.label;
      continue;
    }
    ASSERT_TRUE(t) << c.label;
    EXPECT_EQ(t->tv_sec, *c.seconds) << c.label;
    EXPECT_EQ(t->tv_nsec, c.nanos) << c.label;
  }
  if (old)
    ::setenv("TZ", saved.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace krevo::archive
