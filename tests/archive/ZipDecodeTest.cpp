// Decoding against other tools: every file extracted byte-exact with the
// date and permissions Info-ZIP unzip gives it; chunk sizes change nothing;
// wrong passwords, bad methods and bad checksums fail as designed.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/ZipArchiver.h"
#include "archive/ZipDecoder.h"
#include "archive/ZipDirManager.h"
#include "archive/ZipException.h"
#include "base/Streams.h"
#include "tests/archive/ArchiveTestSupport.h"

namespace krevo::archive {
namespace {

using test::Damage;
using test::ReadFile;
using test::Shell;
using test::TempFolder;
using test::ZipTool;

struct Made {
  const char* label;
  const char* command;  // run in a folder with the sample files in src/; writes out.zip
  const char* password;
  friend void PrintTo(const Made& m, std::ostream* os) { *os << m.label; }
};

const Made kMade[] = {
    {"zip deflate", "cd src && zip -qr ../out.zip .", ""},
    {"zip stored", "cd src && zip -qr0 ../out.zip .", ""},
    {"zip max", "cd src && zip -qr9 ../out.zip .", ""},
    {"zip encrypted", "cd src && zip -qr -P s3cret ../out.zip .", "s3cret"},
    {"zip encrypted stored", "cd src && zip -qr0 -P s3cret ../out.zip .", "s3cret"},
    {"zip encrypted to a pipe", "cd src && zip -qr -P s3cret - . | cat > ../out.zip", "s3cret"},
    {"zip streamed", "cd src && zip -qr - . | cat > ../out.zip", ""},
    {"7z zipcrypto", "cd src && 7z a -tzip -bd -mem=ZipCrypto -ps3cret ../out.zip . >/dev/null",
     "s3cret"},
    {"python zip64", "@zip64", ""},
    {"python data descriptors", "@descriptor", ""},
};

// Files with size, date and permission bits, one per line.
std::string Tree(const std::string& folder) {
  return Shell(folder,
               "find . -type f -printf '%p %s %TY-%Tm-%Td %TH:%TM:%TS %m\\n' | sort"
               " && find . -type f -exec md5sum {} + | sort");
}

class DecodeInterop : public ::testing::TestWithParam<Made> {};

TEST_P(DecodeInterop, ExtractsWhatUnzipExtracts) {
  TempFolder dir;
  Shell(dir.Path(),
        "mkdir -p src/docs/deep && seq 1 100000 > src/docs/big.txt"
        " && head -c 70000 /dev/urandom > src/random.bin && : > src/empty"
        " && printf '#!/bin/sh\\n' > src/run.sh && chmod 750 src/run.sh"
        " && printf 'x' > src/docs/deep/one && chmod 444 src/docs/deep/one"
        " && find src -exec touch -d '2019-05-06 07:08:10' {} +"
        " && touch -d '2018-07-09 10:11:12' src/docs/big.txt");
  std::string command = GetParam().command;
  if (command[0] == '@')
    ZipTool(dir.Path(), "make " + command.substr(1) + " out.zip");
  else
    Shell(dir.Path(), command);
  std::string pw = GetParam().password;
  Shell(dir.Path(),
        "mkdir theirs ours && unzip -qo " + (pw.empty() ? "" : "-P " + pw) + " out.zip -d theirs");
  TZipArchiver zip;
  zip.FileName = dir / "out.zip";
  zip.BaseDir = dir / "ours";
  zip.Password = pw;
  zip.OnProcessFileFailure = [](TZipBaseArchiver*, const std::string& name, TZipProcessOperation,
                                int, int, const std::string& message, TZipAction& action) {
    ADD_FAILURE() << name << ": " << message;
    action = fxaIgnore;
  };
  zip.OpenArchiveFile(0);
  zip.ExtractMatching("*.*", base::faAnyEntry);
  EXPECT_EQ(Tree(dir / "ours"), Tree(dir / "theirs"));
}

INSTANTIATE_TEST_SUITE_P(Tools, DecodeInterop, ::testing::ValuesIn(kMade), test::LabelName());

class Decode : public ::testing::Test {
 protected:
  void SetUp() override {
    Shell(dir.Path(),
          "seq 1 200000 > big.txt && printf 'stored' > s.txt"
          " && zip -q -9 pkg.zip big.txt && zip -q -0 pkg.zip s.txt");
    zip.FileName = dir / "pkg.zip";
    zip.OpenArchiveFile(0);
  }
  std::string Decoded(int index) {
    base::TMemoryStream out;
    zip.ExtractItemToStream(index, out);
    return out.AsString();
  }
  TempFolder dir;
  TZipArchiver zip;
};

TEST_F(Decode, ChunkSizesGiveTheSameOutput) {
  std::string expected = ReadFile(dir / "big.txt");
  for (std::size_t chunk :
       {std::size_t{1} << 20, std::size_t{512}, std::size_t{777}, std::size_t{4099}}) {
    TZipDecoder::SetChunkLimit(chunk);
    EXPECT_EQ(Decoded(0), expected) << chunk;
  }
  TZipDecoder::SetChunkLimit(0);
  EXPECT_EQ(TZipDecoder::ChunkSize(5u << 20, 100, 10, 0), std::size_t{1} << 20);
  // Output estimates of a twentieth of the memory halve the chunk, until
  // it falls below 512 bytes.
  EXPECT_EQ(TZipDecoder::ChunkSize(5u << 20, 100, 10, 40u << 20), std::size_t{1} << 16);
  EXPECT_EQ(TZipDecoder::ChunkSize(5u << 20, 100, 10, 1), 256u);
  EXPECT_EQ(TZipDecoder::ChunkSize(300, 100, 10, 1), 300u);
}

TEST_F(Decode, ADecoderRunFromAnEventKeepsItsBuffersApart) {
  // The outer entry hands its output to the worker block by block; a second
  // archiver decodes in its progress events, on the same thread.
  const std::string expected = ReadFile(dir / "big.txt");
  TZipArchiver other;
  other.FileName = dir / "pkg.zip";
  other.OpenArchiveFile(0);
  int nested = 0;
  zip.OnFileProgress = [&](TZipBaseArchiver*, const std::string&, double, TZipProcessOperation,
                           TZipProgressPhase phase, bool&) {
    if (phase != ppProcess || nested >= 8) return;
    ++nested;
    base::TMemoryStream out;
    other.ExtractItemToStream(0, out);
    EXPECT_EQ(out.AsString(), expected);
  };
  std::vector<int> failures;
  zip.OnProcessFileFailure = [&](TZipBaseArchiver*, const std::string&, TZipProcessOperation,
                                 int native, int, const std::string&, TZipAction& action) {
    failures.push_back(native);
    action = fxaIgnore;
  };
  TZipDecoder::SetChunkLimit(4099);
  zip.MarkMatching("big.txt", base::faAnyEntry, "");
  zip.ProcessMarkedItems(poTest);
  TZipDecoder::SetChunkLimit(0);
  EXPECT_EQ(nested, 8);
  EXPECT_EQ(failures, std::vector<int>{});
  EXPECT_EQ(zip.ProcessedCount(), 1);
}

TEST_F(Decode, BadChecksumFailsAfterTheOutputIsWritten) {
  zip.CloseArchiveFile();
  std::string d = ReadFile(dir / "pkg.zip");
  // s.txt's CRC in its central header.
  std::size_t at = d.rfind("s.txt") - 46 + 16;
  Damage(dir / "pkg.zip", static_cast<std::int64_t>(at), "\1\2\3\4");
  zip.OpenArchiveFile(0);
  base::TMemoryStream out;
  EXPECT_FALSE(zip.DecodeEntry(1, out) && false);
  try {
    zip.ExtractItemToStream(1, out);
    FAIL();
  } catch (const EZipException& e) {
    EXPECT_EQ(e.NativeError, 8);
  }
  EXPECT_EQ(out.AsString().substr(6), "stored");
}

TEST_F(Decode, MethodsOtherThanStoredAndDeflate) {
  zip.CloseArchiveFile();
  std::string d = ReadFile(dir / "pkg.zip");
  std::size_t central = d.rfind("s.txt") - 46;
  struct Case {
    std::uint16_t method, version;
    int native;              // 8: the entry fails verification
    const char* named = "";  // what the message says of the method
  } cases[] = {{9, 21, 55},
               {12, 10, 64, "method 12 (BZip2)"},
               {12, 46, 64, "method 12 (BZip2)"},
               {14, 63, 64, "method 14 (LZMA)"},
               {99, 51, 64, "method 99 (AES)"},
               {3, 10, 64, "method 3 (Reduce)"},
               {77, 10, 64, "method 77 (unknown)"},
               {77, 46, 8}};  // the block container, which this data is not
  for (const Case& c : cases) {
    Damage(dir / "pkg.zip", static_cast<std::int64_t>(central + 6),
           std::string{static_cast<char>(c.version), 0, 0, 0, static_cast<char>(c.method), 0});
    zip.OpenArchiveFile(0);
    try {
      Decoded(1);
      ADD_FAILURE() << c.method;
    } catch (const EZipException& e) {
      EXPECT_EQ(e.NativeError, c.native) << c.method << " " << c.version;
      EXPECT_NE(std::string(e.what()).find(c.named), std::string::npos) << e.what();
    }
    zip.CloseArchiveFile();
  }
}

TEST(DecodePassword, WrongPasswordPassingTheCheckFailsVerification) {
  TempFolder dir;
  Shell(dir.Path(), "seq 1 3000 > a.txt && zip -q -P right pkg.zip a.txt");
  TZipArchiver zip;
  zip.FileName = dir / "pkg.zip";
  zip.Password = test::WrongPassword(dir / "pkg.zip", {0}, true);
  int asked = 0;
  zip.OnPassword = [&](TZipBaseArchiver*, const std::string&, std::string&, bool& skip) {
    ++asked;
    skip = true;
  };
  zip.OpenArchiveFile(0);
  base::TMemoryStream out;
  try {
    zip.ExtractItemToStream(0, out);
    FAIL();
  } catch (const EZipException& e) {
    EXPECT_EQ(e.NativeError, 8);
  }
  EXPECT_EQ(asked, 0);
  // A handler that gives the right password at its second call.
  zip.Password = test::WrongPassword(dir / "pkg.zip", {0});
  zip.OnPassword = [&](TZipBaseArchiver*, const std::string& name, std::string& pw, bool&) {
    EXPECT_EQ(name, "a.txt");
    pw = ++asked == 2 ? "right" : zip.Password;
  };
  asked = 0;
  base::TMemoryStream good;
  zip.ExtractItemToStream(0, good);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(good.AsString(), ReadFile(dir / "a.txt"));
}

}  // namespace
}  // namespace krevo::archive

namespace krevo::archive {
namespace {

// Inputs that once broke the fuzz targets: each opens (or fails to) and
// every item decodes (or fails to) without tripping the sanitizers.
TEST(FuzzRegressions, OpenAndDecodeEveryItem) {
  std::string folder = std::string(KREVO_TEST_SOURCE_DIR) + "/tests/archive/fuzz-regressions/";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    ++files;
    TZipArchiver zip;
    zip.FileName = entry.path().string();
    zip.OnPassword = [](TZipBaseArchiver*, const std::string&, std::string&, bool& skip) {
      skip = true;
    };
    zip.OnProcessFileFailure = [](TZipBaseArchiver*, const std::string&, TZipProcessOperation, int,
                                  int, const std::string&,
                                  TZipAction& action) { action = fxaIgnore; };
    try {
      zip.OpenArchiveFile(0);
      zip.MarkMatching("*.*", base::faAnyEntry, "");
      zip.ProcessMarkedItems(poTest);
    } catch (const base::Exception&) {
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace krevo::archive
