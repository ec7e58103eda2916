// The reply layer of TNetTCPConnection: reading a numbered reply,
// checking its code, sending a command.
#include <cstdint>
#include <vector>

#include "ftp/NetTCPConnection.h"
#include "ftp/NetText.h"

namespace krevo::ftp {
namespace {

bool SameTextNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::int64_t TNetTCPConnection::MaxReplySize() const {
  return 64 * static_cast<std::int64_t>(MaxLineLength > 0 ? MaxLineLength : 16384);
}

void TNetTCPConnection::ReadReply() {
  // ReadTimeout bounds each wait; the deadline bounds the reply as a whole.
  struct DeadlineScope {
    std::optional<std::chrono::steady_clock::time_point>& deadline;
    ~DeadlineScope() { deadline.reset(); }
  } scope{replyDeadline_};
  if (ReadTimeout > 0)
    replyDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ReadTimeout);
  // Blank lines are skipped, but only up to MaxReplySize bytes of them: a
  // server that sends nothing but line ends must not hold the reading for ever.
  std::int64_t blankBytes = 0;
  auto nextLine = [&] {
    while (true) {
      const std::string raw = ReadTextLine("\n", -1, -1);
      std::string line = TrimBlanks(raw);
      if (!line.empty()) return line;
      blankBytes += static_cast<std::int64_t>(raw.size()) + 1;
      if (blankBytes > MaxReplySize()) throw ENetReadLnMaxLineLengthExceeded();
    }
  };
  std::vector<std::string> lines;
  lines.push_back(nextLine());
  const std::string& first = lines.front();
  if (first.size() > 3 && first[3] == '-') {
    const std::string marker = first.substr(0, 3) + " ";
    std::int64_t total = static_cast<std::int64_t>(first.size());
    while (true) {
      std::string line = nextLine();
      total += static_cast<std::int64_t>(line.size());
      const bool last = line.size() < 4 || SameTextNoCase(line.substr(0, 4), marker);
      lines.push_back(std::move(line));
      if (last) break;
      // A multi-line reply that never ends must not grow memory without bound.
      if (total > MaxReplySize()) throw ENetReadLnMaxLineLengthExceeded();
    }
  }
  lastReply_.ParseLines(lines);
}

std::int16_t TNetTCPConnection::CheckReplyCode(std::int16_t code, TReplyCodes allowed) {
  if (allowed.size() == 1 && *allowed.begin() == -1) return code;
  for (std::int16_t c : allowed)
    if (c == code) return code;
  RaiseReplyError();
  return code;  // not reached: RaiseReplyError always throws
}

std::int16_t TNetTCPConnection::ExpectReply(TReplyCodes allowed) {
  ReadReply();
  return CheckReplyCode(static_cast<std::int16_t>(lastReply_.NumericCode()), allowed);
}

void TNetTCPConnection::RaiseReplyError() {
  throw ENetProtocolReplyError(lastReply_.NumericCode(), lastReply_.FormattedText());
}

std::int16_t TNetTCPConnection::SendCommand(const std::string& command, TReplyCodes allowed) {
  WriteTextLine(command);
  return ExpectReply(allowed);
}

}  // namespace krevo::ftp
