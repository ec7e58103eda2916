// Archives that nobody here made, extracted by krevo-unzip and by unzip in
// the same time zone: the same names, bytes, modes and times (to the
// second) come out, except where a case says why ours differ.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
  // A file that a Debian package installs ("/..."), else a command run in a
  // folder holding the sample tree src/, which writes out.zip.
  const char* source;
  // Paths that unzip writes and we do not, each with the reason.
  std::set<std::string> notOurs = {};
  friend void PrintTo(const Archive& a, std::ostream* os) { *os << a.label; }
};

// The sample tree, made in a time zone 14 hours east of UTC; the archives
// are extracted 10 hours west of it, so a time taken as local is 24 hours
// off.
const char kMakeTree[] =
    "mkdir -p 'src/dossier ü/tief' src/plain && cd src"
    " && printf 'héllo\\n' > 'héllo wörld.txt' && seq 1 5000 > plain/numbers.txt"
    " && printf 'run\\n' > plain/tool.sh && chmod 0750 plain/tool.sh"
    " && printf 'secret\\n' > 'dossier ü/tief/private.txt'"
    " && chmod 0600 'dossier ü/tief/private.txt' && chmod 0750 'dossier ü'"
    " && touch -d '2019-03-04 05:06:08 UTC' 'héllo wörld.txt' plain/numbers.txt"
    "    plain/tool.sh 'dossier ü/tief/private.txt'"
    " && touch -d '2018-07-08 09:10:12 UTC' 'dossier ü/tief' 'dossier ü' plain";
const char kMakeZone[] = "TZ=XST-14";
const char kExtractZone[] = "TZ=YST+10";

std::string Quoted(const std::string& s) {
  return "'" + s + "'";
}

// name -> type, mode, modification second and contents (a link's target).
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
    const std::string path = it->path().string();
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    std::ostringstream line;
    line << (S_ISDIR(st.st_mode)   ? 'd'
             : S_ISLNK(st.st_mode) ? 'l'
                                   : 'f')
         << ' ' << std::oct << (st.st_mode & 07777) << std::dec << ' ' << st.st_mtim.tv_sec << ' ';
    if (S_ISREG(st.st_mode))
      line << ReadFile(path).size() << ':' << std::hash<std::string>{}(ReadFile(path));
    if (S_ISLNK(st.st_mode)) line << fs::read_symlink(it->path()).string();
    out[path.substr(root.size())] = line.str();
  }
  return out;
}

class Fidelity : public ::testing::TestWithParam<Archive> {};

TEST_P(Fidelity, ExtractsWhatUnzipExtracts) {
  const Archive& a = GetParam();
  TempFolder dir;
  std::string archive = a.source;
  if (archive[0] == '/') {
    if (::access(archive.c_str(), R_OK) != 0)
      GTEST_SKIP() << archive << " is missing (Debian's golang-1.19-src and "
                   << "libpython3.11-testsuite hold these archives)";
  } else {
    Shell(dir.Path(), std::string(kMakeZone) + " sh -c " + Quoted(kMakeTree));
    Shell(dir.Path() + "src", std::string(kMakeZone) + " " + a.source);
    archive = dir / "src/out.zip";
  }
  // unzip restores folder times only when it owns the files; both run as
  // the same user.
  const std::string env = std::string(kExtractZone) + " ";
  std::system((env + "unzip -qq -o " + Quoted(archive) + " -d " + Quoted(dir / "theirs") +
               " >/dev/null 2>&1 </dev/null")
                  .c_str());
  std::system((env + Quoted(KREVO_UNZIP) + " -q -d " + Quoted(dir / "ours") + " " +
               Quoted(archive) + " >/dev/null 2>&1 </dev/null")
                  .c_str());
  auto theirs = Snapshot(dir / "theirs");
  auto ours = Snapshot(dir / "ours");
  for (const std::string& name : a.notOurs) theirs.erase(name);
  EXPECT_FALSE(theirs.empty()) << "unzip extracted nothing";
  EXPECT_EQ(ours, theirs);
}

const Archive kArchives[] = {
    {"Info-ZIP zip: UTF-8 names, Unicode Path and UT blocks", "zip -qr out.zip ."},
    {"Info-ZIP zip in the C locale", "LC_ALL=C zip -qr out.zip ."},
    {"7-Zip: NTFS times", "7z a -tzip -bd out.zip . >/dev/null"},
    {"bsdtar", "bsdtar --format zip -cf out.zip ."},
    {"Python zipfile",
     "/usr/bin/python3 -c \"import shutil; shutil.make_archive('out', 'zip', '.')\""},
    {"Go time-7zip", "/usr/share/go-1.19/src/archive/zip/testdata/time-7zip.zip"},
    {"Go time-infozip", "/usr/share/go-1.19/src/archive/zip/testdata/time-infozip.zip"},
    {"Go time-osx", "/usr/share/go-1.19/src/archive/zip/testdata/time-osx.zip"},
    {"Go time-win7", "/usr/share/go-1.19/src/archive/zip/testdata/time-win7.zip"},
    {"Go time-winrar", "/usr/share/go-1.19/src/archive/zip/testdata/time-winrar.zip"},
    {"Go time-winzip", "/usr/share/go-1.19/src/archive/zip/testdata/time-winzip.zip"},
    {"Go time-go", "/usr/share/go-1.19/src/archive/zip/testdata/time-go.zip"},
    {"Go time-22738", "/usr/share/go-1.19/src/archive/zip/testdata/time-22738.zip"},
    {"Go utf8-7zip", "/usr/share/go-1.19/src/archive/zip/testdata/utf8-7zip.zip"},
    {"Go utf8-infozip", "/usr/share/go-1.19/src/archive/zip/testdata/utf8-infozip.zip"},
    {"Go utf8-osx", "/usr/share/go-1.19/src/archive/zip/testdata/utf8-osx.zip"},
    {"Go utf8-winrar", "/usr/share/go-1.19/src/archive/zip/testdata/utf8-winrar.zip"},
    {"Go utf8-winzip", "/usr/share/go-1.19/src/archive/zip/testdata/utf8-winzip.zip"},
    {"Go unix", "/usr/share/go-1.19/src/archive/zip/testdata/unix.zip"},
    {"Go winxp", "/usr/share/go-1.19/src/archive/zip/testdata/winxp.zip"},
    {"Go test", "/usr/share/go-1.19/src/archive/zip/testdata/test.zip"},
    {"Go dd", "/usr/share/go-1.19/src/archive/zip/testdata/dd.zip"},
    {"Go subdir", "/usr/share/go-1.19/src/archive/zip/testdata/subdir.zip"},
    {"Go zip64", "/usr/share/go-1.19/src/archive/zip/testdata/zip64.zip"},
    {"Go zip64-2", "/usr/share/go-1.19/src/archive/zip/testdata/zip64-2.zip"},
    {"Go test-prefix", "/usr/share/go-1.19/src/archive/zip/testdata/test-prefix.zip"},
    {"Python exe_with_z64: a stub before a Zip64 archive",
     "/usr/lib/python3.11/test/ziptestdata/exe_with_z64"},
    {"Python zipdir", "/usr/lib/python3.11/test/zipdir.zip"},
};

INSTANTIATE_TEST_SUITE_P(Archives, Fidelity, ::testing::ValuesIn(kArchives), test::LabelName{});

}  // namespace
}  // namespace krevo::archive
