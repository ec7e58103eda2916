// Archives that nobody here made, extracted by krevo-unzip and by unzip in
// the same time zone: the same names, bytes, modes and times (to the
// second) come out, except where a case says why ours differ.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "tests/archive/ArchiveTestSupport.h"

namespace krevo::archive {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::Shell;
using test::TempFolder;

struct Archive {
  const char* label;
  // A file that a Debian package installs (/usr/...), an archive kind of
  // ziptool.py (@kind), else a command run in the sample tree src/, which
  // writes ../out.zip.
  const char* source;
  // Made here by a tool that stores the UTC time: the sample file then has
  // its true time.
  bool utcTime = false;
  // Where we differ from unzip: the modification second we give a path,
  // where unzip gives the DOS date-time taken as local time because it
  // reads no NTFS block, or reads the local header's blocks alone.
  std::map<std::string, std::int64_t> ourTimes = {};
  // Where we differ from unzip: the name we give in place of unzip's. A
  // name made on DOS or Windows is in CP437, which we give as UTF-8 and
  // unzip as ISO-8859-1, no valid name on a UTF-8 system.
  std::map<std::string, std::string> ourNames = {};
  friend void PrintTo(const Archive& a, std::ostream* os) { *os << a.label; }
};

// The sample tree, made in a time zone 14 hours east of UTC and extracted
// 10 hours west of UTC: a UTC time taken as local would be 24 hours off.
const char kMakeTree[] =
    "export TZ=XST-14 && mkdir -p 'src/dossier \xC3\xBC/tief' src/plain && cd src"
    " && printf 'h\xC3\xA9llo\\n' > 'h\xC3\xA9llo w\xC3\xB6rld.txt' && seq 1 5000 > "
    "plain/numbers.txt"
    " && printf 'run\\n' > plain/tool.sh && chmod 0750 plain/tool.sh"
    " && printf 'secret\\n' > 'dossier \xC3\xBC/tief/private.txt'"
    " && chmod 0600 'dossier \xC3\xBC/tief/private.txt' && chmod 0750 'dossier \xC3\xBC'"
    " && touch -d @1551675968 'h\xC3\xA9llo w\xC3\xB6rld.txt' plain/numbers.txt plain/tool.sh"
    "    'dossier \xC3\xBC/tief/private.txt'"
    " && touch -d @1531041012 'dossier \xC3\xBC/tief' 'dossier \xC3\xBC' plain";
const char kTrueName[] = "/h\xC3\xA9llo w\xC3\xB6rld.txt";
const std::int64_t kTrueTime = 1551675968;  // 2019-03-04 05:06:08 UTC
const char kExtractZone[] = "TZ=YST+10 ";
// The other tools convert names by the caller's locale: in the C locale of
// a plain container unzip writes "caf\xC3\xA9" as "caf#U00e9". They run in a
// UTF-8 locale, as on any desktop; krevo-unzip runs in the caller's own.
const char kToolLocale[] = "LC_ALL=C.UTF-8 ";

struct Entry {
  char type;
  unsigned mode;
  std::int64_t mtime;
  std::string bytes;  // a file's contents, a link's target
  bool operator==(const Entry&) const = default;
  friend std::ostream& operator<<(std::ostream& os, const Entry& e) {
    return os << e.type << ' ' << std::oct << e.mode << std::dec << ' ' << e.mtime << ' '
              << e.bytes.size() << " bytes";
  }
};

std::map<std::string, Entry> Snapshot(const std::string& root) {
  std::map<std::string, Entry> out;
  if (!fs::exists(root)) return out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
    const std::string path = it->path().string();
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    Entry e{S_ISDIR(st.st_mode)   ? 'd'
            : S_ISLNK(st.st_mode) ? 'l'
                                  : 'f',
            static_cast<unsigned>(st.st_mode & 07777), st.st_mtim.tv_sec, ""};
    if (S_ISREG(st.st_mode)) e.bytes = ReadFile(path);
    if (S_ISLNK(st.st_mode)) e.bytes = fs::read_symlink(it->path()).string();
    out[path.substr(root.size())] = e;
  }
  return out;
}

std::string Quoted(const std::string& s) {
  return "'" + s + "'";
}

bool InstalledFile(const std::string& source) {
  return source[0] == '/' && source.find(' ') == std::string::npos;
}

class Fidelity : public ::testing::TestWithParam<Archive> {};

TEST_P(Fidelity, ExtractsWhatUnzipExtracts) {
  const Archive& a = GetParam();
  TempFolder dir;
  std::string archive = a.source;
  if (InstalledFile(archive)) {
    if (::access(archive.c_str(), R_OK) != 0)
      GTEST_SKIP() << archive << " is missing (Debian's golang-1.19-src and "
                   << "libpython3.11-testsuite install these archives)";
  } else if (archive[0] == '@') {
    test::ZipTool(dir.Path(), "make " + archive.substr(1) + " out.zip");
    archive = dir / "out.zip";
  } else {
    Shell(dir.Path(), kMakeTree);
    Shell(dir.Path() + "src", std::string("export TZ=XST-14 ") + kToolLocale + "&& " + a.source);
    archive = dir / "out.zip";
  }
  const std::int64_t extracting = std::time(nullptr);
  Shell(dir.Path(), kExtractZone + std::string(kToolLocale) + "unzip -qq -o " + Quoted(archive) +
                        " -d theirs </dev/null >/dev/null 2>&1 || true");
  Shell(dir.Path(), kExtractZone + Quoted(KREVO_UNZIP) + " -q -d ours " + Quoted(archive) +
                        " </dev/null >/dev/null 2>&1 || true");
  auto theirs = Snapshot(dir / "theirs");
  auto ours = Snapshot(dir / "ours");
  ASSERT_FALSE(theirs.empty()) << "unzip extracted nothing";
  // unzip gives the stored modes as they are; ours pass through the umask,
  // as every file this process creates.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  for (auto& [name, e] : theirs) e.mode &= ~mask;
  for (const auto& [name, our] : a.ourNames) {
    ASSERT_TRUE(theirs.count(name)) << name;
    theirs[our] = theirs[name];
    theirs.erase(name);
  }
  // A folder that the archive does not list is dated when each tool made
  // it, which may be a second apart.
  for (auto& [name, our] : ours)
    if (const auto it = theirs.find(name); it != theirs.end() && our.type == 'd' &&
                                           it->second.type == 'd' && our.mtime >= extracting &&
                                           it->second.mtime >= extracting)
      our.mtime = it->second.mtime;
  for (const auto& [name, when] : a.ourTimes) {
    ASSERT_TRUE(theirs.count(name)) << name;
    EXPECT_NE(theirs[name].mtime, when) << name << ": unzip agrees now";
    theirs[name].mtime = when;
  }
  EXPECT_EQ(ours, theirs);
  // Made here, with a UTC time stored: the true time, whatever the zone.
  if (a.utcTime) {
    ASSERT_TRUE(ours.count(kTrueName));
    EXPECT_EQ(ours[kTrueName].mtime, kTrueTime);
  }
}

// Go's own tests give the times we give where unzip differs.
const std::int64_t kGoTime = 1509509517;  // 2017-10-31 21:11:57 -0700
const char kWorld[] = "/\xE4\xB8\x96\xE7\x95\x8C";
const std::int64_t kGoWorldTime = 1510002567;  // 2017-11-06 13:09:27 -0800
const std::map<std::string, std::int64_t> k7ZipTimes = {
    {"/dossier \xC3\xBC", 1531041012},
    {"/dossier \xC3\xBC/tief", 1531041012},
    {"/dossier \xC3\xBC/tief/private.txt", kTrueTime},
    {kTrueName, kTrueTime},
    {"/plain", 1531041012},
    {"/plain/numbers.txt", kTrueTime},
    {"/plain/tool.sh", kTrueTime},
};

const Archive kArchives[] = {
    {"Info-ZIP zip: UTF-8 names made on Unix, UT blocks", "zip -qr ../out.zip .", true},
    {"Info-ZIP zip in the C locale", "LC_ALL=C zip -qr ../out.zip .", true},
    {"7-Zip: NTFS times", "7z a -tzip -bd ../out.zip . >/dev/null", true, k7ZipTimes},
    {"bsdtar", "bsdtar --format zip -cf ../out.zip .", true},
    {"A Unicode Path block beside a Latin-1 name, made on Unix", "@unicode-path"},
    {"Python zipfile",
     "/usr/bin/python3 -c \"import shutil; shutil.make_archive('../out', 'zip', '.')\""},
    {"Go time-7zip",
     "/usr/share/go-1.19/src/archive/zip/testdata/time-7zip.zip",
     false,
     {{"/test.txt", kGoTime}}},
    {"Go time-infozip", "/usr/share/go-1.19/src/archive/zip/testdata/time-infozip.zip"},
    {"Go time-osx", "/usr/share/go-1.19/src/archive/zip/testdata/time-osx.zip"},
    {"Go time-win7", "/usr/share/go-1.19/src/archive/zip/testdata/time-win7.zip"},
    {"Go time-winrar",
     "/usr/share/go-1.19/src/archive/zip/testdata/time-winrar.zip",
     false,
     {{"/test.txt", kGoTime}}},
    {"Go time-winzip",
     "/usr/share/go-1.19/src/archive/zip/testdata/time-winzip.zip",
     false,
     {{"/test.txt", kGoTime}}},
    {"Go time-go", "/usr/share/go-1.19/src/archive/zip/testdata/time-go.zip"},
    {"Go time-22738", "/usr/share/go-1.19/src/archive/zip/testdata/time-22738.zip"},
    {"Go utf8-7zip",
     "/usr/share/go-1.19/src/archive/zip/testdata/utf8-7zip.zip",
     false,
     {{kWorld, kGoWorldTime}}},
    {"Go utf8-infozip", "/usr/share/go-1.19/src/archive/zip/testdata/utf8-infozip.zip"},
    {"Go utf8-osx", "/usr/share/go-1.19/src/archive/zip/testdata/utf8-osx.zip"},
    {"Go utf8-winrar",
     "/usr/share/go-1.19/src/archive/zip/testdata/utf8-winrar.zip",
     false,
     {{kWorld, kGoWorldTime}}},
    {"Go utf8-winzip",
     "/usr/share/go-1.19/src/archive/zip/testdata/utf8-winzip.zip",
     false,
     {{kWorld, kGoWorldTime}}},
    {"Go unix", "/usr/share/go-1.19/src/archive/zip/testdata/unix.zip"},
    {"Go winxp", "/usr/share/go-1.19/src/archive/zip/testdata/winxp.zip"},
    {"Go test", "/usr/share/go-1.19/src/archive/zip/testdata/test.zip"},
    {"Go dd", "/usr/share/go-1.19/src/archive/zip/testdata/dd.zip"},
    {"Go subdir", "/usr/share/go-1.19/src/archive/zip/testdata/subdir.zip"},
    {"Go zip64", "/usr/share/go-1.19/src/archive/zip/testdata/zip64.zip"},
    // Its UT block is in the central header alone: 2012-08-10 14:33:32 -0400.
    {"Go zip64-2",
     "/usr/share/go-1.19/src/archive/zip/testdata/zip64-2.zip",
     false,
     {{"/README", 1344623612}}},
    {"Go test-prefix", "/usr/share/go-1.19/src/archive/zip/testdata/test-prefix.zip"},
    {"Python exe_with_z64: a stub before a Zip64 archive",
     "/usr/lib/python3.11/test/ziptestdata/exe_with_z64"},
    {"Python zipdir", "/usr/lib/python3.11/test/zipdir.zip"},
    {"Python zip_cp437_header (made on DOS)",
     "/usr/lib/python3.11/test/zip_cp437_header.zip",
     false,
     {},
     {{"/filename_with_\xE6o\xE5.txt", "/filename_with_\xC3\xA6o\xC3\xA5.txt"}}},
};

INSTANTIATE_TEST_SUITE_P(Archives, Fidelity, ::testing::ValuesIn(kArchives), test::LabelName{});

// Made on Windows: the CP437 name converted as ever, a Unicode Path block
// beside it ignored.
TEST(FidelityWindows, Cp437NameKeepsItsConversion) {
  TempFolder dir;
  test::ZipTool(dir.Path(), "make windows w.zip");
  Shell(dir.Path(), Quoted(KREVO_UNZIP) + " -q -d out w.zip");
  EXPECT_EQ(ReadFile(dir / "out/\xC3\xBC-cp437.txt"), "windows\n");
  EXPECT_FALSE(fs::exists(dir / "out/other.txt"));
}

}  // namespace
}  // namespace krevo::archive
