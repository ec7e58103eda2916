// The shared retry loop: which tries are retried, the lines that say so (the
// server's text on one line, its control characters escaped), the result when
// the retries run out, and the stop. The waits are real: about 5 s in all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/FileDescriptor.h"
#include "ftp/NetExceptions.h"
#include "ftp/NetRetryLoop.h"

namespace krevo::ftp {
namespace {

// What one try does.
struct TStep {
  enum { Whole, Short, Reply, Socket } kind;
  int code = 0;
  std::string text;
};

TEST(NetRetryLoop, RetriesSayWhyAndEndAsTheLastTryDid) {
  const struct {
    const char* name;
    int retries;
    bool fullStop, resumeRefused, stop;
    std::vector<TStep> steps;
    std::vector<std::string> notes;
    std::string end;  // "whole", "failed: TEXT" (+ " (thrown)"), or what was thrown
    int resyncs;
  } cases[] = {
      {"transient failures, then whole",
       2,
       true,
       false,
       false,
       {{TStep::Reply, 426, "Connection closed; transfer aborted.\r\n"},
        {TStep::Socket, 104, "Socket Error # 104\r\nConnection reset by peer"},
        {TStep::Whole}},
       {"Retrying up.zip from byte 1000 (1 of 2): Connection closed; transfer aborted.",
        "Retrying up.zip from byte 2000 (2 of 2): Socket Error # 104: Connection reset by peer."},
       "whole",
       2},
      {"a reply's control characters escaped; a short end runs the retries out",
       1,
       false,
       false,
       false,
       {{TStep::Reply, 451, "busy\x1b[2J\x07\r\nline two\r\n"}, {TStep::Short, 0, "3 of 9\tbytes"}},
       {"Retrying up.zip from byte 1000 (1 of 1): busy\\x1b[2J\\x07: line two"},
       "failed: 3 of 9\\tbytes",
       1},
      {"a refused REST starts from byte 0; a permanent reply is thrown on",
       3,
       true,
       true,
       false,
       {{TStep::Socket, 111, "Socket Error # 111\r\nConnection refused."},
        {TStep::Reply, 550, "No such file.\r\n"}},
       {"Retrying up.zip from byte 0 (1 of 3): Socket Error # 111: Connection refused."},
       "reply 550",
       1},
      {"without retries the failure is the result",
       0,
       true,
       false,
       false,
       {{TStep::Reply, 421, "Timeout\r\n"}},
       {},
       "failed: Timeout. (thrown)",
       0},
      {"a stop: a failure that may pass is thrown on",
       3,
       true,
       false,
       true,
       {{TStep::Socket, 104, "Socket Error # 104\r\nConnection reset by peer."}},
       {},
       "socket",
       0},
      {"a stop cuts the wait short",
       3,
       true,
       false,
       true,
       {{TStep::Short, 0, "1 of 2 bytes were received."}},
       {"Retrying up.zip from byte 1000 (1 of 3): 1 of 2 bytes were received."},
       "aborted",
       1},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const base::UniqueFd stopRead(fds[0]), stopWrite(fds[1]);
    if (tc.stop) ASSERT_EQ(::write(fds[1], "x", 1), 1);

    TNetRetryLoop loop;
    loop.Name = "up.zip";
    loop.Retries = tc.retries;
    loop.FullStop = tc.fullStop;
    loop.StopFd = stopRead.get();
    std::size_t tries = 0;
    int resyncs = 0;
    std::vector<std::string> notes;
    loop.OnResynchronize = [&] { ++resyncs; };
    loop.OnCopyEnd = [&] { return static_cast<std::int64_t>(1000 * tries); };
    loop.OnResumeRefused = [&] { return tc.resumeRefused; };
    loop.OnRetry = [&](const std::string& note) { notes.push_back(note); };
    std::mt19937 random(7);
    std::string end;
    try {
      const TNetRetryEnd result = loop.Run(
          [&]() -> std::optional<std::string> {
            if (tries >= tc.steps.size()) throw std::logic_error("one try too many");
            const TStep& step = tc.steps[tries++];
            switch (step.kind) {
              case TStep::Whole:
                return std::nullopt;
              case TStep::Short:
                return step.text;
              case TStep::Reply:
                throw ENetProtocolReplyError(step.code, step.text);
              case TStep::Socket:
                throw ENetSocketError(step.code, step.text);
            }
            return std::nullopt;
          },
          random);
      end =
          result.whole ? "whole" : "failed: " + result.failure + (result.error ? " (thrown)" : "");
    } catch (const ENetOperationAborted&) {
      end = "aborted";
    } catch (const ENetProtocolReplyError& e) {
      end = "reply " + std::to_string(e.ReplyCode);
    } catch (const ENetSocketError&) {
      end = "socket";
    }
    EXPECT_EQ(end, tc.end);
    EXPECT_EQ(notes, tc.notes);
    EXPECT_EQ(resyncs, tc.resyncs);
    EXPECT_EQ(tries, tc.steps.size());
  }
}

}  // namespace
}  // namespace krevo::ftp
