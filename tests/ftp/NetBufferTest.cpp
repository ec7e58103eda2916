// The managed input buffer: removal through the read offset, compaction and
// the bytes-removed callback.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "ftp/NetBuffer.h"
#include "ftp/NetExceptions.h"

namespace krevo::ftp {
namespace {

TEST(NetBuffer, RemovesFromTheFrontAndReportsEachRemoval) {
  TNetManagedBuffer buffer;
  std::vector<std::int64_t> removed;
  buffer.OnBytesRemoved = [&](std::int64_t n) { removed.push_back(n); };
  std::vector<std::uint8_t> bytes(100000);
  std::iota(bytes.begin(), bytes.end(), 0);
  buffer.Append(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  std::int64_t consumed = 0;
  for (std::int64_t n : {10, 32758, 1, 40000}) {  // crosses the pack threshold twice
    buffer.Remove(n);
    consumed += n;
    ASSERT_EQ(buffer.Size(), 100000 - consumed);
    ASSERT_EQ(buffer.Data()[0], static_cast<std::uint8_t>(consumed));
  }
  EXPECT_THROW(buffer.Remove(buffer.Size() + 1), ENetNotEnoughDataInBuffer);
  buffer.Remove(buffer.Size());
  EXPECT_EQ(buffer.Size(), 0);
  buffer.Append("abc", 3);
  buffer.Clear();  // emptying directly is not a removal
  EXPECT_EQ(removed, (std::vector<std::int64_t>{10, 32758, 1, 40000, 100000 - 72769}));
}

TEST(NetBuffer, FindsTerminatorsFromAPosition) {
  TNetSimpleBuffer buffer;
  buffer.Append("ab\r\ncd\r\n", 8);
  EXPECT_EQ(buffer.Find("\n", 0), 3);
  EXPECT_EQ(buffer.Find("\n", 4), 7);
  EXPECT_EQ(buffer.Find("\r\n", 3), 6);
  EXPECT_EQ(buffer.Find("x", 0), -1);
  buffer.Remove(4);
  EXPECT_EQ(buffer.View(), "cd\r\n");
}

}  // namespace
}  // namespace krevo::ftp
