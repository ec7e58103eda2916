// The two streams that a package's signature check uses: the hash taken while
// a package arrives, and the bounded buffer a signature is received into.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/BoundedMemoryStream.h"
#include "base/Errors.h"
#include "base/HashingStream.h"

namespace krevo::base {
namespace {

base::TBlake2b512::Digest DigestOf(const std::string& bytes) {
  base::TBlake2b512 hash;
  hash.Update(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  return hash.Final();
}

TEST(HashingStream, TheDigestIsTakenOnlyWhenEveryByteWasWrittenInOrder) {
  struct Case {
    const char* what;
    std::function<void(base::TStream&)> write;  // through the hashing stream
    bool digest;                                // whether one is given
  };
  const std::vector<Case> cases = {
      {"in pieces", [](base::TStream& s) { s.WriteBuffer("abc", 3), s.WriteBuffer("def", 3); },
       true},
      {"nothing", [](base::TStream&) {}, true},
      {"an empty SetSize first", [](base::TStream& s) { s.SetSize(0), s.WriteBuffer("abcdef", 6); },
       true},
      {"a byte written again",
       [](base::TStream& s) {
         s.WriteBuffer("abcdef", 6), s.SetPosition(2), s.WriteBuffer("c", 1);
         s.Seek(0, base::TSeekOrigin::soEnd);
       },
       false},
      {"a gap",
       [](base::TStream& s) { s.WriteBuffer("abc", 3), s.SetPosition(5), s.WriteBuffer("f", 1); },
       false},
      {"cut back", [](base::TStream& s) { s.WriteBuffer("abcdefgh", 8), s.SetSize(6); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    base::TMemoryStream inner;
    base::THashingStream hashing(inner);
    c.write(hashing);
    const auto digest = hashing.Digest();
    ASSERT_EQ(digest.has_value(), c.digest);
    if (digest) {
      EXPECT_EQ(*digest, DigestOf(inner.AsString()));
    }
  }
}

TEST(HashingStream, BytesWrittenBehindItsBackLeaveNoDigest) {
  base::TMemoryStream inner;
  base::THashingStream hashing(inner);
  hashing.WriteBuffer("abc", 3);
  inner.WriteBuffer("def", 3);
  EXPECT_FALSE(hashing.Digest().has_value());
}

// More than the hashing thread may have waiting, in the pieces a download
// writes: the writer waits for the hash rather than queueing without end.
TEST(HashingStream, APackageLargerThanTheQueueHashesAsOneAndAnUnfinishedOneEnds) {
  std::string bytes(base::THashingStream::kPendingLimit * 3 + 12345, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i * 2654435761u >> 24);
  base::TMemoryStream inner;
  base::THashingStream hashing(inner);
  for (std::size_t at = 0; at < bytes.size(); at += 32768)
    hashing.WriteBuffer(bytes.data() + at, std::min<std::size_t>(32768, bytes.size() - at));
  const auto digest = hashing.Digest();
  ASSERT_TRUE(digest.has_value());
  EXPECT_EQ(*digest, DigestOf(bytes));
  EXPECT_THROW(hashing.Digest(), base::ESignatureError);

  // A download that fails half-way leaves the stream without a digest taken.
  base::TMemoryStream other;
  auto unfinished = std::make_unique<base::THashingStream>(other);
  unfinished->WriteBuffer(bytes.data(), bytes.size());
  unfinished.reset();
}

TEST(BoundedMemoryStream, HoldsUpToItsLimitAndRefusesTheWriteThatPassesIt) {
  base::TBoundedMemoryStream stream(8);
  stream.WriteBuffer("12345", 5);
  EXPECT_THROW(stream.WriteBuffer("6789", 4), base::EWriteError);
  EXPECT_TRUE(stream.Overflowed());
  EXPECT_EQ(stream.AsString(), "12345");  // nothing of the refused write kept
  EXPECT_THROW(stream.SetSize(9), base::EWriteError);

  base::TBoundedMemoryStream exact(8);
  exact.WriteBuffer("12345678", 8);
  EXPECT_FALSE(exact.Overflowed());
  EXPECT_THROW(exact.WriteBuffer("9", 1), base::EWriteError);
}

}  // namespace
}  // namespace krevo::base
