// What an installation remembers of the packages it installed, in both
// versions of the state file, and which packages an accepted index wants.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "app/trust/IndexGate.h"
#include "base/FileDescriptor.h"
#include "tests/support/TempDir.h"

namespace krevo::app {
namespace {

using test::ReadFile;
using test::TempDir;

base::TBlake2b512::Digest Hash(std::uint8_t fill) {
  base::TBlake2b512::Digest hash;
  hash.fill(fill);
  return hash;
}

base::UniqueFd Open(const TempDir& dir) {
  return base::UniqueFd(::open(dir.Folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// "name=h" per installed package: h the hash's fill byte in hex, "-" unknown.
std::string Shown(const TIndexState& state) {
  std::string text = state.Sequence ? "seq " + std::to_string(*state.Sequence) : "no seq";
  for (const auto& [name, hash] : state.Installed) {
    char fill[8];
    std::snprintf(fill, sizeof fill, "%02x", hash ? (*hash)[0] : 0);
    text += " " + name + "=" + (hash ? fill : "-");
  }
  return text;
}

// The state saved in the folder `fd`, Shown.
std::string Saved(int fd) {
  const std::optional<TIndexState> state = LoadIndexState(fd);
  return state ? Shown(*state) : "none";
}

TEST(IndexState, BothVersionsAreReadAndAnythingElseIsDamaged) {
  const std::string h = std::string(128, 'a');
  struct Case {
    const char* what;
    std::string text;
    const char* state;  // Shown; "" when damaged
  };
  const std::vector<Case> cases = {
      // Written by installations in the field before hashes were kept.
      {"first version", "krevo-index-state 1\nsequence 17\ninstalled up080307.zip\n",
       "seq 17 up080307.zip=-"},
      {"second version",
       "krevo-index-state 2\nsequence 9\ninstalled up080307.zip " + h +
           "\ninstalled up080308.zip -\n",
       "seq 9 up080307.zip=aa up080308.zip=-"},
      // Runs without an index keep the record before any index is accepted.
      {"no index accepted yet", "krevo-index-state 2\ninstalled up080307.zip -\n",
       "no seq up080307.zip=-"},
      {"first version without a sequence", "krevo-index-state 1\ninstalled up080307.zip\n", ""},
      {"first version with a hash",
       "krevo-index-state 1\nsequence 1\ninstalled up080307.zip " + h + "\n", ""},
      {"second version without a hash", "krevo-index-state 2\ninstalled up080307.zip\n", ""},
      {"upper-case hash",
       "krevo-index-state 2\ninstalled up080307.zip " + std::string(128, 'A') + "\n", ""},
      {"short hash", "krevo-index-state 2\ninstalled up080307.zip abc\n", ""},
      {"name twice", "krevo-index-state 2\ninstalled up080307.zip -\ninstalled up080307.zip -\n",
       ""},
      {"no package name", "krevo-index-state 2\ninstalled ../x.zip -\n", ""},
      {"unknown version", "krevo-index-state 3\nsequence 1\n", ""},
      {"empty", "", ""},
      {"cut short", "krevo-index-state 2\nsequence 1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir root;
    root.Write(kIndexStateName, c.text);
    const base::UniqueFd fd = Open(root);
    if (!*c.state) {
      EXPECT_THROW(LoadIndexState(fd.get()), EIndexError);
      continue;
    }
    const std::optional<TIndexState> state = LoadIndexState(fd.get());
    ASSERT_TRUE(state);
    EXPECT_EQ(Shown(*state), c.state);
    // What is saved reads back the same.
    SaveIndexState(fd.get(), *state);
    EXPECT_EQ(Saved(fd.get()), c.state);
    EXPECT_TRUE(ReadFile(root.Folder() + kIndexStateName).starts_with("krevo-index-state 2\n"));
  }
}

// An index of up080307.zip (hash 07) and up080308.zip (hash 08), sequence 17,
// accepted on 9 March 2008 with the state given.
TEST(IndexGate, AnIndexWantsWhatIsNotInstalledWithItsHash) {
  struct Case {
    const char* what;
    std::optional<TIndexState> stored;
    base::TDateTime lastUpdate;
    std::vector<std::string> wanted;
    std::size_t offers;
    const char* saved;  // Shown; "none": no state written
  };
  const base::TDateTime march8 = base::EncodeDate(2008, 3, 8);
  const std::vector<Case> cases = {
      {"new installation", std::nullopt, 0, {"up080307.zip", "up080308.zip"}, 0, "seq 17"},
      // The date filter would have taken both as installed: only the record counts.
      {"first index, nothing recorded",
       std::nullopt,
       march8,
       {"up080307.zip", "up080308.zip"},
       2,
       "seq 17"},
      {"first index, one recorded without a hash",
       TIndexState{std::nullopt, {{"up080307.zip", std::nullopt}}},
       march8,
       {"up080308.zip"},
       1,
       "seq 17 up080307.zip=07"},
      {"first index, one recorded with another hash",
       TIndexState{std::nullopt, {{"up080307.zip", Hash(0x99)}}},
       march8,
       {"up080307.zip", "up080308.zip"},
       2,
       "seq 17 up080307.zip=99"},
      // A state of the first version: the installed bytes are taken to be the index's.
      {"old state, names only",
       TIndexState{16, {{"up080307.zip", std::nullopt}}},
       march8,
       {"up080308.zip"},
       0,
       "seq 17 up080307.zip=07"},
      {"republished",
       TIndexState{16, {{"up080307.zip", Hash(0x99)}, {"up080308.zip", Hash(0x08)}}},
       march8,
       {"up080307.zip"},
       1,
       "seq 17 up080307.zip=99 up080308.zip=08"},
      {"all installed",
       TIndexState{17, {{"up080307.zip", Hash(0x07)}, {"up080308.zip", Hash(0x08)}}},
       march8,
       {},
       0,
       "none"},  // nothing changed: nothing written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir root;
    TPackageIndex index;
    index.Sequence = 17;
    index.Channel = "stable";
    index.ExpiresAt = 2000000000;
    index.Packages["up080307.zip"].Size = 1;
    index.Packages["up080307.zip"].Hash = Hash(0x07);
    index.Packages["up080308.zip"].Size = 1;
    index.Packages["up080308.zip"].Hash = Hash(0x08);
    TIndexGate gate(index, Open(root), c.stored, "stable", 1200000000, c.lastUpdate);
    std::vector<std::string> wanted;
    for (const char* name : {"up080306.zip", "up080307.zip", "up080308.zip"})
      if (gate.Wants(name)) wanted.push_back(name);
    EXPECT_EQ(wanted, c.wanted);
    EXPECT_EQ(gate.Offers().size(), c.offers);
    gate.Save();
    const base::UniqueFd fd = Open(root);
    EXPECT_EQ(Saved(fd.get()), c.saved);
    // Once installed, a package is installed with the index's hash.
    for (const std::string& name : wanted) gate.Installed(name);
    for (const char* name : {"up080307.zip", "up080308.zip"}) EXPECT_FALSE(gate.Wants(name));
    if (!wanted.empty()) {
      EXPECT_EQ(Saved(fd.get()), "seq 17 up080307.zip=07 up080308.zip=08");
    }
  }
}

TEST(IndexGate, ARunWithoutAnIndexKeepsTheRecord) {
  TempDir root;
  const base::UniqueFd fd = Open(root);
  const base::TBlake2b512::Digest hash = Hash(0x42);
  RecordInstalledWithoutIndex(fd.get(), "up080307.zip", nullptr);
  RecordInstalledWithoutIndex(fd.get(), "up080308.zip", &hash);
  EXPECT_EQ(Saved(fd.get()), "no seq up080307.zip=- up080308.zip=42");
  // The accepted sequence stays.
  SaveIndexState(fd.get(), TIndexState{17, {}});
  RecordInstalledWithoutIndex(fd.get(), "up080307.zip", &hash);
  EXPECT_EQ(Saved(fd.get()), "seq 17 up080307.zip=42");
}

}  // namespace
}  // namespace krevo::app
