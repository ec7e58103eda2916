// The phase function: how machines spread over a package's places, and that
// a place is the same for the same machine and package every time.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/trust/PackagePhase.h"

namespace krevo::app {
namespace {

base::TBlake2b512::Digest HashOf(std::uint8_t b) {
  base::TBlake2b512::Digest hash{};
  hash.fill(b);
  return hash;
}

std::string MachineId(int i) {
  char id[33];
  std::snprintf(id, sizeof id, "%032x", static_cast<unsigned>(i) * 2654435761u);
  return id;
}

TEST(PackagePhase, MachinesSpreadEvenlyAndIndependentlyOverPlaces) {
  constexpr int kMachines = 100000;
  const base::TBlake2b512::Digest a = HashOf(0xaa), b = HashOf(0xbb);
  int below1 = 0, below10 = 0, below50 = 0, bothBelow50 = 0, sameForNext = 0;
  for (int i = 0; i < kMachines; ++i) {
    const TPhaseIdentity machine("", MachineId(i));
    const double pa = machine.Place("up261201.zip", a);
    const double pb = machine.Place("up261208.zip", b);
    ASSERT_GE(pa, 0.0);
    ASSERT_LT(pa, 100.0);
    below1 += pa < 1;
    below10 += pa < 10;
    below50 += pa < 50;
    bothBelow50 += pa < 50 && pb < 50;
    sameForNext += pa == machine.Place("up261201.zip", HashOf(0xab));
  }
  struct Case {
    const char* what;
    int count;
    double percent;  // expected share
  };
  for (const Case& c : std::vector<Case>{{"below 1", below1, 1},
                                         {"below 10", below10, 10},
                                         {"below 50", below50, 50},
                                         {"below 50 for both", bothBelow50, 25}}) {
    const double share = 100.0 * c.count / kMachines;
    RecordProperty(c.what, std::to_string(share));
    EXPECT_NEAR(share, c.percent, 0.5) << c.what;
  }
  // Republished bytes place the machine afresh.
  EXPECT_LT(sameForNext, kMachines / 50);
}

TEST(PackagePhase, PlacesAreStableAndGroupsShareThem) {
  const base::TBlake2b512::Digest hash = HashOf(0x11);
  const TPhaseIdentity one("", "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(one.Place("up261201.zip", hash),
            TPhaseIdentity("", "0123456789abcdef0123456789abcdef").Place("up261201.zip", hash));
  int differ = 0;
  for (int i = 0; i < 20; ++i) {
    const TPhaseIdentity canary("canaries", MachineId(i)), other("canaries", MachineId(i + 100));
    EXPECT_EQ(canary.Place("up261201.zip", hash), other.Place("up261201.zip", hash));
    differ += TPhaseIdentity("", MachineId(i)).Place("up261201.zip", hash) !=
              TPhaseIdentity("", MachineId(i + 100)).Place("up261201.zip", hash);
  }
  EXPECT_GT(differ, 15);
  // A phase of 0 holds every machine, 100 lets every one through, and a
  // machine without an id waits for the last.
  TIndexedPackage package;
  package.Size = 10;
  package.Hash = hash;
  const TPhaseIdentity none("", std::nullopt);
  for (const int phase : {0, 99, 100}) {
    package.Phase = phase;
    EXPECT_EQ(one.Takes("up261201.zip", package),
              phase == 100 || (phase == 99 && one.Place("up261201.zip", hash) < 99));
    EXPECT_EQ(none.Takes("up261201.zip", package), phase == 100);
  }
}

}  // namespace
}  // namespace krevo::app
