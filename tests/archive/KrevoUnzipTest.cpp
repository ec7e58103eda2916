// The krevo-unzip command as a user runs it: exit status, what it names and
// what it leaves on disk, with standard input not a terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "tests/archive/ArchiveTestSupport.h"

namespace krevo::archive {
namespace {

using test::ReadFile;
using test::Shell;
using test::TempFolder;

struct Command {
  const char* label;
  const char* args;  // after the program name; run in the test folder
  int status;
  const char* stdoutText;        // expected standard output (exact), or null
  const char* afterwards;        // `find out -type f | sort` afterwards
  const char* outHas = nullptr;  // a text standard output must hold
  const char* errHas = nullptr;  // a text standard error must hold
  friend void PrintTo(const Command& c, std::ostream* os) { *os << c.label; }
};

constexpr const char kRebuilt[] =
    "warning: the central directory is damaged; entries were recovered from local headers\n";

const Command kCommands[] = {
    {"usage", "-x", 64, "", ""},
    {"tsv without list", "--tsv pkg.zip", 64, "", ""},
    {"missing archive", "-l nothing.zip", 2, "", ""},
    {"not an archive", "-l junk.zip", 2, "", ""},
    {"list by masks", "-l --tsv pkg.zip '*.cfg' 'sub/*'", 0,
     "3\t3\t2020-02-03 04:05:06\td8583aa1\t81a40000\t-\tsub/b.txt\n", nullptr},
    {"extract all", "-d out pkg.zip", 0, "a.txt\nsub/\nsub/b.txt\n", "out/a.txt\nout/sub/b.txt\n"},
    {"extract quietly by mask", "-q -d out pkg.zip '*.txt' -o never", 0, "",
     "out/a.txt\nout/sub/b.txt\n"},
    {"test", "-t -q enc.zip -P pw", 0, "", ""},
    {"no password without a terminal", "-q -d out enc.zip", 1, "", ""},
    {"never replaces", "-q -d pre -o never pkg.zip", 1, "", nullptr},
    {"prompt answers no without a terminal", "-q -d pre -o prompt pkg.zip", 1, "", nullptr},
    {"help", "pkg.zip --help", 0, nullptr, "", "Exit status: 0 done; 1 an item failed"},
    // A damaged directory is rebuilt: what was recovered is listed and
    // extracted, and the status says that the archive was not whole.
    {"end cut off is listed", "-l --tsv cut.zip", 1, nullptr, "", "\tsub/b.txt\n", kRebuilt},
    {"end cut off is extracted", "-q -d out cut.zip", 1, "", "out/a.txt\nout/sub/b.txt\n", nullptr,
     kRebuilt},
    {"damaged directory is extracted", "-d out big-dir.zip", 1, "a.txt\nsub/\nsub/b.txt\n",
     "out/a.txt\nout/sub/b.txt\n", nullptr, kRebuilt},
    {"download cut short", "-d out half.zip", 1, "a.txt\n", "out/a.txt\n", nullptr, kRebuilt},
    {"test of a download cut short", "-t half.zip", 1, "a.txt: OK\n", "", nullptr, kRebuilt},
    {"Zip64 count that lies is rebuilt", "-d out lie.zip", 1,
     "a.txt\nsub/\nsub/b.txt\nstored.bin\n", "out/a.txt\nout/stored.bin\nout/sub/b.txt\n", nullptr,
     kRebuilt},
    {"overlap bomb", "-d out bomb.zip", 2, "", "", nullptr, "Entries overlap in the archive"},
    // Names with control characters are shown escaped and not extracted.
    {"control names listed", "-l --tsv controls.zip", 0, nullptr, "", "\tcr\\rname.txt\n"},
    {"control names in the table", "-l controls.zip", 0, nullptr, "", " esc\\x1b[31mred.txt\n"},
    {"control names refused", "-d out controls.zip", 1, "ok.txt\n", "out/ok.txt\n", nullptr,
     "krevo-unzip: lf\\nname.txt: Cannot create file \"lf\\nname.txt\""},
};

class Unzip : public ::testing::TestWithParam<Command> {};

TEST_P(Unzip, RunsAsAUserExpects) {
  TempFolder dir;
  Shell(dir.Path(),
        "mkdir -p src/sub pre && printf 'top\\n' > src/a.txt && printf 'b!\\n' > src/sub/b.txt"
        " && touch -d '2020-02-03 04:05:06' src/a.txt src/sub/b.txt"
        " && seq 1 100000 > src/big.txt"
        " && cd src && zip -qr ../pkg.zip a.txt sub && zip -qr -P pw ../enc.zip a.txt"
        " && zip -q ../big.zip a.txt big.txt"
        " && cd .. && printf junk > junk.zip && printf mine > pre/a.txt"
        // the end record cut off; the first half of a download
        " && head -c -10 pkg.zip > cut.zip"
        // a directory that claims to be 2 GB
        " && cp pkg.zip big-dir.zip && printf '\\377\\377\\377\\177'"
        " | dd of=big-dir.zip bs=1 seek=$(( $(stat -c %s pkg.zip) - 10 )) conv=notrunc 2>/dev/null"
        " && head -c $(( $(stat -c %s big.zip) / 2 )) big.zip > half.zip");
  test::ZipTool(dir.Path(), "bomb overlap bomb.zip");
  test::ZipTool(dir.Path(), "count 4611686018427387904 lie.zip zip64");
  test::ZipTool(dir.Path(), "make controls controls.zip");
  const Command& c = GetParam();
  std::string cmd =
      std::string("'") + KREVO_UNZIP + "' " + c.args + " </dev/null 2>err.txt >out.txt";
  int status = std::system(("cd '" + dir.Path() + "' && " + cmd).c_str());
  EXPECT_EQ(WEXITSTATUS(status), c.status) << ReadFile(dir / "err.txt");
  if (c.stdoutText) {
    EXPECT_EQ(ReadFile(dir / "out.txt"), c.stdoutText);
  }
  if (c.afterwards) {
    EXPECT_EQ(Shell(dir.Path(), "find out -type f 2>/dev/null | sort; true"), c.afterwards);
  }
  const std::string out = ReadFile(dir / "out.txt"), err = ReadFile(dir / "err.txt");
  if (c.outHas) {
    EXPECT_NE(out.find(c.outHas), std::string::npos) << out;
  }
  if (c.errHas) {
    EXPECT_NE(err.find(c.errHas), std::string::npos) << err;
  }
  if (c.status == 2) {
    EXPECT_NE(err.find("Native error"), std::string::npos);
  }
  // Nothing from an archive reaches the terminal raw, or the disk by name.
  EXPECT_EQ(out.find_first_of("\r\x1b\x07"), std::string::npos) << out;
  EXPECT_EQ(err.find_first_of("\r\x1b\x07"), std::string::npos) << err;
  EXPECT_EQ(Shell(dir.Path(), "find . -name '*[[:cntrl:]]*'"), "");
  EXPECT_EQ(ReadFile(dir / "pre/a.txt"), "mine");
}

INSTANTIATE_TEST_SUITE_P(Commands, Unzip, ::testing::ValuesIn(kCommands), test::LabelName());

// --verify-key against keys and signatures made by the minisign tool.
struct VerifyCommand {
  const char* label;
  const char* args;
  int status;
  const char* said;  // the start of standard output, or text standard error holds
  friend void PrintTo(const VerifyCommand& c, std::ostream* os) { *os << c.label; }
};

const VerifyCommand kVerifyCommands[] = {
    {"key line", "--verify-key \"$(sed -n 2p k.pub)\" --signature pkg.zip.minisig pkg.zip", 0,
     "pkg.zip: signature verified; trusted comment: timestamp:"},
    {"key file", "--verify-key k.pub --signature pkg.zip.minisig pkg.zip", 0, "pkg.zip: signature"},
    {"legacy", "--signature legacy.minisig pkg.zip --verify-key k.pub", 0, "pkg.zip: signature"},
    {"made by make-package.sh", "--verify-key k.pub --signature up200101.zip.minisig up200101.zip",
     0, "up200101.zip: signature verified; trusted comment: timestamp:"},
    {"byte changed", "--verify-key k.pub --signature pkg.zip.minisig bad/pkg.zip", 1,
     "bad/pkg.zip: bad signature: the file is not the one that was signed"},
    {"renamed", "--verify-key k.pub --signature pkg.zip.minisig up.zip", 1, "another file name"},
    {"another key", "--verify-key k.pub --signature k2.minisig pkg.zip", 1, "another key"},
    {"no signature", "--verify-key k.pub --signature none.minisig pkg.zip", 1, "not signed"},
    {"garbled signature", "--verify-key k.pub --signature k.pub pkg.zip", 1, "malformed"},
    {"malformed key", "--verify-key RWQ --signature pkg.zip.minisig pkg.zip", 64,
     "neither a key line nor a readable file: RWQ"},
    {"malformed key file", "--verify-key k.key --signature pkg.zip.minisig pkg.zip", 64,
     "public key is not a minisign public key"},
    {"missing archive", "--verify-key k.pub --signature pkg.zip.minisig no.zip", 2, "no.zip"},
    {"no signature option", "--verify-key k.pub pkg.zip", 64, "Usage:"},
    {"with list", "-l --verify-key k.pub --signature pkg.zip.minisig pkg.zip", 64, "Usage:"},
};

class UnzipVerify : public ::testing::TestWithParam<VerifyCommand> {};

TEST_P(UnzipVerify, ExitsAsTheSignatureDeserves) {
  if (std::system("minisign -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "minisign is not installed";
  TempFolder dir;
  Shell(dir.Path(),
        "printf 'top\\n' > a.txt && zip -q pkg.zip a.txt && cp pkg.zip up.zip"
        " && mkdir bad && cp pkg.zip bad/ && printf X | dd of=bad/pkg.zip bs=1 seek=40"
        " conv=notrunc 2>/dev/null"
        " && minisign -G -W -p k.pub -s k.key >/dev/null"
        " && minisign -G -W -p k2.pub -s k2.key >/dev/null"
        " && minisign -S -s k.key -m pkg.zip && minisign -S -l -s k.key -m pkg.zip"
        " -x legacy.minisig && minisign -S -s k2.key -m pkg.zip -x k2.minisig"
                    " && KREVO_SIGNING_KEY=k.key '" KREVO_TEST_SOURCE_DIR
                    "/scripts/make-package.sh' 200101 bad . >/dev/null 2>&1");
  const VerifyCommand& c = GetParam();
  std::string cmd =
      std::string("'") + KREVO_UNZIP + "' " + c.args + " </dev/null 2>err.txt >out.txt";
  int status = std::system(("cd '" + dir.Path() + "' && " + cmd).c_str());
  const std::string out = ReadFile(dir / "out.txt"), err = ReadFile(dir / "err.txt");
  EXPECT_EQ(WEXITSTATUS(status), c.status) << err;
  if (c.status == 0) {
    EXPECT_EQ(out.rfind(c.said, 0), 0u) << out;
  } else {
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find(c.said), std::string::npos) << err;
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, UnzipVerify, ::testing::ValuesIn(kVerifyCommands),
                         test::LabelName());

}  // namespace
}  // namespace krevo::archive
