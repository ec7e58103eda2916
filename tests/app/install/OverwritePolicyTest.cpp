// The overwrite policy: an installed file is replaced only by a newer packaged copy.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "app/install/OverwritePolicy.h"
#include "base/Errors.h"

namespace krevo::app {
namespace {

std::uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<std::uint32_t>(y - 1980) << 25 | static_cast<std::uint32_t>(mo) << 21 |
         static_cast<std::uint32_t>(d) << 16 | static_cast<std::uint32_t>(h) << 11 |
         static_cast<std::uint32_t>(mi) << 5 | static_cast<std::uint32_t>(s / 2);
}

TEST(OverwritePolicy, ReplacesOnlyWhatThePackageHasNewer) {
  const std::uint32_t installed = Dos(2008, 3, 1, 10, 0, 0);
  EXPECT_TRUE(PackagedCopyIsNewer(Dos(2008, 3, 1, 10, 0, 2), installed));
  EXPECT_FALSE(PackagedCopyIsNewer(installed, installed));
  EXPECT_FALSE(PackagedCopyIsNewer(Dos(2008, 2, 29, 23, 59, 58), installed));
  EXPECT_FALSE(PackagedCopyIsNewer(std::nullopt, installed));  // no archive date: keep
  EXPECT_TRUE(PackagedCopyIsNewer(installed, std::nullopt));   // no file date: replace
  EXPECT_FALSE(PackagedCopyIsNewer(std::nullopt, std::nullopt));
  EXPECT_THROW(PackagedCopyIsNewer(0u, installed), base::EConvertError);
}

}  // namespace
}  // namespace krevo::app
