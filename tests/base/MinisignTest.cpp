// Package signatures against what the minisign tool makes at test time: keys,
// signatures in both algorithms, trusted comments, and damaged copies of each.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/Blake2b512.h"
#include "base/Errors.h"
#include "base/FileDescriptor.h"
#include "base/Minisign.h"
#include "tests/support/TempDir.h"

namespace krevo::base {
namespace {

using test::ReadFile;
using V = TSignatureVerdict;

// Two key pairs, two packages and their signatures, made once for the suite.
class Signed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::system("minisign -v >/dev/null 2>&1") != 0) return;
    dir_ = new test::TempDir();
    const std::string script =
        "cd '" + dir_->Folder() +
        "' && minisign -G -W -p k1.pub -s k1.key >/dev/null"
        " && minisign -G -W -p k2.pub -s k2.key >/dev/null"
        " && head -c 300000 /dev/urandom > up200101.zip && cp up200101.zip tampered.zip"
        " && printf 'x' | dd of=tampered.zip bs=1 seek=150000 conv=notrunc 2>/dev/null"
        " && printf 'other\\n' > up200102.zip"
        " && minisign -S -s k1.key -m up200101.zip -x ED.sig"
        " && minisign -S -l -s k1.key -m up200101.zip -x Ed.sig"
        " && minisign -S -s k1.key -m up200102.zip -x otherfile.sig"
        " && minisign -S -s k2.key -m up200101.zip -x otherkey.sig"
        " && minisign -S -s k1.key -m up200101.zip -x othername.sig"
        "    -t \"$(printf 'timestamp:1\\tfile:up200102.zip')\""
        " && minisign -S -s k1.key -m up200101.zip -x longername.sig"
        "    -t \"$(printf 'file:up200101.zip.old\\tfile:up200101')\""
        " && minisign -S -s k1.key -m up200101.zip -x noname.sig -t 'timestamp:1'"
        " && : > empty.zip && minisign -S -l -s k1.key -m empty.zip -x empty.sig"
        "    -t 'file:up200101.zip'";
    ASSERT_EQ(std::system(script.c_str()), 0);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "minisign is not installed";
  }
  static std::string Path(const std::string& name) { return *dir_ / name; }
  static TMinisignKey Key(const std::string& name) {
    return ParseMinisignKey(ReadFile(Path(name)));
  }

  static test::TempDir* dir_;
};
test::TempDir* Signed::dir_ = nullptr;

// Changes of a signature file's text: its lines are
// [0] untrusted comment, [1] signature, [2] trusted comment, [3] global signature.
std::string Line(const std::string& text, int n) {
  std::size_t start = 0;
  for (int i = 0; i < n; ++i) start = text.find('\n', start) + 1;
  return text.substr(start, text.find('\n', start) - start);
}
std::string ReplaceLine(const std::string& text, int n, const std::string& line) {
  std::size_t start = 0;
  for (int i = 0; i < n; ++i) start = text.find('\n', start) + 1;
  return text.substr(0, start) + line + text.substr(text.find('\n', start));
}
std::string SetChar(const std::string& text, int line, std::size_t at, char c) {
  std::string l = Line(text, line);
  l[at] = c;
  return ReplaceLine(text, line, l);
}
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Unchanged(const std::string& t) {
  return t;
}
std::string CrLf(const std::string& t) {
  std::string out;
  for (char c : t) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}
std::string NoFinalLineEnd(const std::string& t) {
  return t.substr(0, t.size() - 1);
}
std::string GlobalGarbled(const std::string& t) {
  const char c = Line(t, 3)[10];
  return SetChar(t, 3, 10, c == 'A' ? 'B' : 'A');
}
std::string CommentEdited(const std::string& t) {
  return ReplaceLine(t, 2, Line(t, 2) + "\tbeta");
}
std::string Truncated(const std::string& t) {
  return t.substr(0, t.size() / 2);
}
std::string SignatureNotBase64(const std::string& t) {
  return SetChar(t, 1, 20, '!');
}
// "RU" begins "ED" and "RW" begins "Ed"; "RX" begins "Ee".
std::string UnknownAlgorithm(const std::string& t) {
  return SetChar(t, 1, 1, 'X');
}
// The last character before the '=' carries two bits that must be zero.
std::string NonCanonical(const std::string& t) {
  const std::string l = Line(t, 1);
  const std::size_t v = std::string(kAlphabet).find(l[98]);
  return SetChar(t, 1, 98, kAlphabet[v ^ 1]);
}
std::string ExtraLine(const std::string& t) {
  return t + "untrusted comment: more\n";
}
std::string NoTrustedComment(const std::string& t) {
  return ReplaceLine(t, 2, Line(t, 2).substr(std::string("trusted ").size()));
}
std::string NulInComment(const std::string& t) {
  return ReplaceLine(t, 2, Line(t, 2) + std::string(1, '\0'));
}
std::string TooLarge(const std::string& t) {
  return ReplaceLine(t, 0, "untrusted comment: " + std::string(4096, 'x'));
}

struct Case {
  const char* label;
  const char* signature;  // file made by SetUpTestSuite
  std::string (*change)(const std::string&);
  const char* package;
  const char* key;  // "k1", "k2", or "k2 as k1": k2's key under k1's key id
  V verdict;
  // minisign -V accepts it. It does not read the trusted comment's file
  // name, nor does it refuse stray bits in base64 or lines after the fourth,
  // which minisign never writes and which are refused here.
  bool minisignAccepts;
};

const Case kCases[] = {
    {"prehashed", "ED.sig", Unchanged, "up200101.zip", "k1", V::svValid, true},
    {"legacy", "Ed.sig", Unchanged, "up200101.zip", "k1", V::svValid, true},
    {"CR LF line ends", "ED.sig", CrLf, "up200101.zip", "k1", V::svValid, true},
    {"no final line end", "Ed.sig", NoFinalLineEnd, "up200101.zip", "k1", V::svValid, true},
    {"legacy, empty file", "empty.sig", Unchanged, "empty.zip", "k1", V::svValid, true},
    {"byte changed after signing", "ED.sig", Unchanged, "tampered.zip", "k1", V::svBadSignature,
     false},
    {"legacy byte changed", "Ed.sig", Unchanged, "tampered.zip", "k1", V::svBadSignature, false},
    {"another file's signature", "otherfile.sig", Unchanged, "up200101.zip", "k1",
     V::svBadSignature, false},
    {"another key's signature", "otherkey.sig", Unchanged, "up200101.zip", "k1", V::svWrongKey,
     false},
    {"another key under this key id", "ED.sig", Unchanged, "up200101.zip", "k2 as k1",
     V::svBadSignature, false},
    {"names another file", "othername.sig", Unchanged, "up200101.zip", "k1", V::svOtherFile, true},
    {"names a longer or shorter file", "longername.sig", Unchanged, "up200101.zip", "k1",
     V::svOtherFile, true},
    {"names no file", "noname.sig", Unchanged, "up200101.zip", "k1", V::svOtherFile, true},
    {"global signature garbled", "ED.sig", GlobalGarbled, "up200101.zip", "k1",
     V::svBadTrustedComment, false},
    {"trusted comment edited", "ED.sig", CommentEdited, "up200101.zip", "k1",
     V::svBadTrustedComment, false},
    {"truncated", "ED.sig", Truncated, "up200101.zip", "k1", V::svMalformed, false},
    {"signature not base64", "ED.sig", SignatureNotBase64, "up200101.zip", "k1", V::svMalformed,
     false},
    {"unknown algorithm", "ED.sig", UnknownAlgorithm, "up200101.zip", "k1", V::svMalformed, false},
    {"non-canonical base64", "ED.sig", NonCanonical, "up200101.zip", "k1", V::svMalformed, true},
    {"a fifth line", "ED.sig", ExtraLine, "up200101.zip", "k1", V::svMalformed, true},
    {"no trusted comment prefix", "ED.sig", NoTrustedComment, "up200101.zip", "k1", V::svMalformed,
     false},
    {"NUL in the trusted comment", "ED.sig", NulInComment, "up200101.zip", "k1", V::svMalformed,
     false},
    {"larger than 4 KiB", "ED.sig", TooLarge, "up200101.zip", "k1", V::svMalformed, false},
};

TEST_F(Signed, EachSignatureGetsItsVerdict) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    TMinisignKey key = Key(std::string(c.key).substr(0, 2) + ".pub");
    if (std::string(c.key) == "k2 as k1") key.keyId = Key("k1.pub").keyId;
    const std::string signature = c.change(ReadFile(Path(c.signature)));
    UniqueFd fd(::open(Path(c.package).c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    const TSignatureCheck check = VerifyMinisign(key, signature, "up200101.zip", fd.get());
    EXPECT_EQ(check.verdict, c.verdict) << check.reason;
    EXPECT_EQ(check.reason.empty(), c.verdict == V::svValid) << check.reason;
    // Hashed while arriving, in pieces that do not line up with anything.
    TBlake2b512 hash;
    const std::string bytes = ReadFile(Path(c.package));
    for (std::size_t at = 0; at < bytes.size(); at += 4093) {
      const std::string piece = bytes.substr(at, 4093);
      hash.Update({reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()});
    }
    const TBlake2b512::Digest digest = hash.Final();
    EXPECT_EQ(VerifyMinisign(key, signature, "up200101.zip", fd.get(), &digest).verdict, c.verdict);
    if (std::string(c.key) != "k2 as k1") {
      const std::string sig = dir_->Write("changed.sig", signature);
      const std::string cmd = "minisign -V -q -p '" + Path(std::string(c.key) + ".pub") + "' -m '" +
                              Path(c.package) + "' -x '" + sig + "' >/dev/null 2>&1";
      EXPECT_EQ(std::system(cmd.c_str()) == 0, c.minisignAccepts) << "minisign -V";
    }
  }
}

TEST_F(Signed, DigestMatchesB2sum) {
  for (const char* name : {"up200101.zip", "up200102.zip", "k1.key"}) {
    UniqueFd fd(::open(Path(name).c_str(), O_RDONLY | O_CLOEXEC));
    const TBlake2b512::Digest digest = TBlake2b512::OfDescriptor(fd.get());
    std::string hex;
    for (std::uint8_t b : digest)
      hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
    const std::string out = dir_->Write("b2.txt", "");
    ASSERT_EQ(std::system(("b2sum '" + Path(name) + "' > '" + out + "'").c_str()), 0);
    EXPECT_EQ(ReadFile(out).substr(0, 128), hex) << name;
  }
}

TEST_F(Signed, KeysAreReadInEveryFormMinisignWrites) {
  const std::string pub = ReadFile(Path("k1.pub"));
  const std::string line = Line(pub, 1);
  const TMinisignKey expected = ParseMinisignKey(pub);
  for (const std::string& text : {line, line + "\n", CrLf(pub), NoFinalLineEnd(pub)}) {
    const TMinisignKey key = ParseMinisignKey(text);
    EXPECT_EQ(key.keyId, expected.keyId);
    EXPECT_EQ(key.key, expected.key);
  }
  EXPECT_NE(Key("k2.pub").keyId, expected.keyId);
  const std::string malformed[] = {
      "",
      Line(pub, 0),
      line.substr(0, 52) + "====",
      line + "AAAA",
      line + " ",
      "untrusted comment: x\n" + pub,
      "comment: x\n" + line,
      SetChar(line + "\n", 0, 1, 'X'),  // "RX...": not an Ed25519 key
      SetChar(line + "\n", 0, 30, '-'),
      ReadFile(Path("k1.key")),
  };
  for (const std::string& text : malformed)
    EXPECT_THROW(ParseMinisignKey(text), ESignatureError) << text;
}

TEST(Blake2b512, CanBeFinishedOnlyOnce) {
  TBlake2b512 hash;
  hash.Final();
  EXPECT_THROW(hash.Final(), ESignatureError);
  EXPECT_THROW(hash.Update({}), ESignatureError);
}

}  // namespace
}  // namespace krevo::base
