// The package index's reader: what it accepts, and the first fault it names
// in each way an index can be malformed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/trust/PackageIndex.h"

namespace krevo::app {
namespace {

const std::string kHash(128, 'a');
const std::string kHead =
    "krevo-index 1\nsequence 17\nexpires 2027-01-31T00:00:00Z\nchannel stable\n";

TEST(PackageIndex, ReadsAValidIndex) {
  const TPackageIndex index = ParsePackageIndex(
      "krevo-index 1\nchannel beta-2\npackage up261208.zip 88123 " + std::string(128, 'f') +
      "\nexpires 2024-02-29T23:59:59Z\nsequence 18446744073709551615\npackage UP261201x.ZIP 0 " +
      kHash + "\n");
  EXPECT_EQ(index.Sequence, 18446744073709551615u);
  EXPECT_EQ(index.Channel, "beta-2");
  EXPECT_EQ(index.Expires, "2024-02-29T23:59:59Z");
  EXPECT_EQ(index.ExpiresAt, 1709251199);
  ASSERT_EQ(index.Packages.size(), 2u);
  EXPECT_EQ(index.Packages.begin()->first, "UP261201x.ZIP");  // name order
  EXPECT_EQ(index.Packages.at("up261208.zip").Size, 88123u);
  EXPECT_EQ(index.Packages.at("up261208.zip").Hash[63], 0xff);
  EXPECT_EQ(ParsePackageIndex(kHead).Packages.size(), 0u);
}

TEST(PackageIndex, ReadsTheWordsAfterTheHash) {
  struct Case {
    std::string words;  // after the hash
    int phase;
    bool revoked;
    const char* checkPath;
    const char* checkArguments;
  };
  const std::vector<Case> cases = {
      {"", 100, false, "", ""},
      {" phase=0", 0, false, "", ""},
      {" phase=100", 100, false, "", ""},
      {" revoked phase=7", 7, true, "", ""},
      {" phase=50 revoked check=/usr/bin/test", 50, true, "/usr/bin/test", ""},
      {" check=/opt/c -x  phase=3 revoked", 100, false, "/opt/c", "-x  phase=3 revoked"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    const TIndexedPackage p =
        ParsePackageIndex(kHead + "package up261201.zip 10 " + kHash + c.words + "\n")
            .Packages.at("up261201.zip");
    EXPECT_EQ(p.Phase, c.phase);
    EXPECT_EQ(p.Revoked, c.revoked);
    EXPECT_EQ(p.CheckPath, c.checkPath);
    EXPECT_EQ(p.CheckArguments, c.checkArguments);
  }
}

TEST(PackageIndex, NothingMalformedIsPassedOver) {
  struct Case {
    std::string text;
    const char* error;  // what the message holds
  };
  const std::string pkg = "package up261201.zip 10 " + kHash + "\n";
  const std::vector<Case> cases = {
      {"", "line 1: it is empty"},
      {kHead + pkg + "\n", "line 6: it is empty"},
      {kHead + "\n" + pkg, "line 5: it is empty"},
      {kHead + pkg.substr(0, pkg.size() - 1), "line 5: the last line does not end in LF"},
      {"krevo-index 1\r\nsequence 1\n", "line 1: it holds a CR"},
      {kHead + "package up261201.zip 10 " + kHash + "\r\n", "line 5: it holds a CR"},
      {kHead + std::string("package up261201.zip 1\0 ", 23) + kHash + "\n", "holds a NUL"},
      {"krevo-index 2\n", "line 1: it is not \"krevo-index 1\""},
      {kHead + "comment hello\n", "line 5: it starts with the unknown word comment"},
      {kHead + "# a comment\n", "unknown word #"},
      {kHead + " package up261201.zip 10 " + kHash + "\n", "unknown word ."},
      {kHead + "sequence 18\n", "line 5: a second sequence line"},
      {"krevo-index 1\nexpires 2027-01-31T00:00:00Z\nchannel stable\n", "no sequence line"},
      {"krevo-index 1\nsequence 1\nchannel stable\n", "no expires line"},
      {"krevo-index 1\nsequence 1\nexpires 2027-01-31T00:00:00Z\n", "no channel line"},
      {"krevo-index 1\nsequence  17\n", "line 2: it does not hold 2 fields"},
      {"krevo-index 1\nsequence 17 \n", "line 2: it does not hold 2 fields"},
      {"krevo-index 1\nsequence -1\n", "the sequence -1 is not a whole number"},
      {"krevo-index 1\nsequence 017\n", "the sequence 017 is not"},
      {"krevo-index 1\nsequence 18446744073709551616\n", "is not a whole number"},
      {"krevo-index 1\nsequence 0x10\n", "is not a whole number"},
      {"krevo-index 1\nexpires 2027-01-31\n", "the date 2027-01-31 is not YYYY-MM-DDTHH:MM:SSZ"},
      {"krevo-index 1\nexpires 2027-01-31T00:00:00+00:00\n", "is not YYYY-MM-DDTHH:MM:SSZ"},
      {"krevo-index 1\nexpires 2027-01-31 00:00:00Z\n", "does not hold 2 fields"},
      {"krevo-index 1\nexpires 2027-01-31t00:00:00z\n", "is not YYYY"},
      {"krevo-index 1\nexpires 2027-02-29T00:00:00Z\n", "is not YYYY"},
      {"krevo-index 1\nexpires 2027-13-01T00:00:00Z\n", "is not YYYY"},
      {"krevo-index 1\nexpires 2027-01-31T24:00:00Z\n", "is not YYYY"},
      {"krevo-index 1\nexpires 2027-01-31T23:59:60Z\n", "is not YYYY"},
      {"krevo-index 1\nchannel st/able\n", "the channel st/able is no name"},
      {"krevo-index 1\nchannel " + std::string(65, 'x') + "\n", "is no name"},
      {kHead + "package up261201.zip 10\n", "line 5: it does not hold 4 fields"},
      {kHead + "package ../etc/passwd 10 " + kHash + "\n", "../etc/passwd is no package name"},
      {kHead + "package up2612.zip 10 " + kHash + "\n", "up2612.zip is no package name"},
      {kHead + "package up261201\x1b.zip 10 " + kHash + "\n", "up261201\\x1b.zip is no package"},
      {kHead + "package up261201" + std::string(88, 'x') + ".zip 10 " + kHash + "\n",
       "is no package name"},
      {kHead + "package up261201.zip +10 " + kHash + "\n", "the size +10 is not"},
      {kHead + "package up261201.zip 10000000000 " + kHash + "\n", "the size 10000000000 is not"},
      {kHead + "package up261201.zip 10 " + std::string(128, 'A') + "\n", "the hash is not"},
      {kHead + "package up261201.zip 10 " + std::string(127, 'a') + "\n", "the hash is not"},
      {kHead + "package up261201.zip 10 " + kHash + " extra\n", "line 5: the word extra after"},
      {kHead + "package up261201.zip 10 " + kHash + " \n", "the word  after the hash"},
      {kHead + "package up261201.zip 10 " + kHash + " phase=101\n", "the phase phase=101 is not"},
      {kHead + "package up261201.zip 10 " + kHash + " phase=05\n", "the phase phase=05 is not"},
      {kHead + "package up261201.zip 10 " + kHash + " phase=+5\n", "the phase phase=+5 is not"},
      {kHead + "package up261201.zip 10 " + kHash + " phase=\n", "the phase phase= is not"},
      {kHead + "package up261201.zip 10 " + kHash + " phase=5 phase=5\n", "a second phase"},
      {kHead + "package up261201.zip 10 " + kHash + " revoked revoked\n", "a second revoked"},
      {kHead + "package up261201.zip 10 " + kHash + " Revoked\n", "the word Revoked after"},
      {kHead + "package up261201.zip 10 " + kHash + " check=\n", "the check names no program"},
      {kHead + "package up261201.zip 10 " + kHash + " check=/x \n", "a blank ends the check"},
      {kHead + pkg + pkg, "line 6: up261201.zip is listed twice"},
      {kHead + std::string(kMaxIndexSize, '#'), "larger than 1048576 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 200));
    try {
      ParsePackageIndex(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const EIndexError& e) {
      const std::string what = e.what();
      EXPECT_TRUE(what.starts_with("The package index is ")) << what;
      EXPECT_NE(what.find(c.error), std::string::npos) << what;
      EXPECT_EQ(what.find_first_of("\r\x1b"), std::string::npos) << what;
    }
  }
}

}  // namespace
}  // namespace krevo::app
