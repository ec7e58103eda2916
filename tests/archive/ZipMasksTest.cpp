// Masks against item names: the mask rules, '?' on UTF-8 characters, case
// folding under the user's locale and the Turkish rule.
#include <gtest/gtest.h>

#include <string>

#include "archive/ZipCollation.h"
#include "archive/ZipMasks.h"

namespace krevo::archive {
namespace {

// Text for the test list: bytes outside printable ASCII, '%' and backslash as %HH.
std::string Readable(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c > ' ' && c < 0x7F && c != '%' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return out.empty() ? "(empty)" : out;
}

struct MaskCase {
  const char* name;
  const char* mask;
  bool matches;
  friend void PrintTo(const MaskCase& c, std::ostream* os) {
    *os << Readable(c.name) << (c.matches ? " matches " : " does not match ") << Readable(c.mask);
  }
};

const MaskCase kMaskCases[] = {
    {"README", "*.*", true},
    {"sub/", "*.*", true},
    {"sub/a.txt", "*.*", true},
    {"a.b.c", "*.*", true},
    {"sub/notes.txt", "*.TXT", true},
    {"sub/deeper/x.txt", "sub*", true},
    {"a.txt", "a.txt", true},
    {"docs/a.txt", "a.txt", true},
    {"docs/ba.txt", "a.txt", false},
    {"docs/x", "docs/*", true},
    {"docs/deeper/y", "docs/*", true},
    {"readme", "readme.", true},
    {"readme.", "readme.", true},
    {"readme.txt", "readme.", false},
    {"abc", "a*.", true},
    {"abc.txt", "a*.", false},
    {"x.bak", "*.*.bak", true},
    {"x.txt", "*.*.bak", false},
    {"anything", "", false},
    {"any/thing", "*", true},
    {"abc", "a?c", true},
    {"a.c", "a?c", true},
    {"ac", "a?c", false},
    {"ab", "ab*", true},
    {"ab", "ab**", false},
    {"abc", "ab**", true},
    {"sub\\win.txt", "win.txt", true},
    // UTF-8: '?' is one character, case folds beyond ASCII.
    {"\xC3\xBC.txt", "?.txt", true},
    {"\xE6\x97\xA5.txt", "?.txt", true},
    {"\xE6\x97\xA5.txt", "??.txt", false},
    {"GR\xC3\x9C\xC3\x9F" "E.TXT", "gr\xC3\xBC\xC3\x9F" "e.txt", true},
    {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true},
    // Malformed bytes are characters of their own and compare exactly.
    {"\xFF.txt", "?.txt", true},
    {"\xFF.txt", "\xFE.txt", false},
    {"\xC3.txt", "\xC3.TXT", true},
};

class MaskTable : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskTable, MatchesItemNames) {
  TZipCollation::UseLocale("C.UTF-8");
  TInternalSearchRec s;
  s.mask = GetParam().mask;
  EXPECT_EQ(MatchItem(GetParam().name, s), GetParam().matches)
      << GetParam().name << " vs " << GetParam().mask;
}

INSTANTIATE_TEST_SUITE_P(Masks, MaskTable, ::testing::ValuesIn(kMaskCases));

TEST(Masks, TurkishDottedAndDotlessI) {
  TZipCollation::UseLocale("tr_TR.UTF-8");
  EXPECT_FALSE(SameChar(U'I', U'i', true));
  EXPECT_TRUE(SameChar(U'I', U'\u0131', true));
  EXPECT_TRUE(SameChar(U'\u0130', U'i', true));
  EXPECT_FALSE(WildcardMatch("i.txt", "I.TXT", true));
  EXPECT_TRUE(WildcardMatch("\xC4\xB1.txt", "I.TXT", true));
  TZipCollation::UseLocale("C.UTF-8");
  EXPECT_TRUE(SameChar(U'I', U'i', true));
  EXPECT_FALSE(SameChar(U'I', U'i', false));
}

TEST(Masks, ExclusionMaskDropsWhatItMatches) {
  TInternalSearchRec s;
  s.mask = "*.*";
  s.exclusionMask = "*.log";
  EXPECT_TRUE(MatchItem("sub/a.txt", s));
  EXPECT_FALSE(MatchItem("sub/a.log", s));
}

TEST(Masks, ManyStarsStayPolynomial) {
  std::string name(3000, 'a');
  std::string mask;
  for (int i = 0; i < 40; ++i) mask += "*a";
  EXPECT_FALSE(WildcardMatch(name, mask + "b", true));
  EXPECT_TRUE(WildcardMatch(name, mask + "*", true));
}

}  // namespace
}  // namespace krevo::archive
