// The data channel of TNetFTP: passive and active transfers, the PASV, EPSV,
// PORT and EPRT exchanges, the end reply, abort.
#include <algorithm>
#include <chrono>
#include <cstdint>

#include "ftp/NetFTP.h"
#include "ftp/NetSimpleServer.h"
#include "ftp/NetTLSIOHandler.h"
#include "ftp/NetText.h"

namespace krevo::ftp {
namespace {

bool ParseByte(const std::string& piece, int& value) {
  std::size_t b = 0, e = piece.size();
  while (b < e && piece[b] == ' ') ++b;
  while (e > b && piece[e - 1] == ' ') --e;
  if (e == b || e - b > 3) return false;
  value = 0;
  for (std::size_t i = b; i < e; ++i) {
    if (piece[i] < '0' || piece[i] > '9') return false;
    value = value * 10 + (piece[i] - '0');
  }
  return value <= 255;
}

}  // namespace

bool ParsePassiveReply(const std::string& text, std::string& host, int& port) {
  std::string numbers;
  const std::size_t open = text.find('('), close = text.find(')');
  if (open != std::string::npos && close != std::string::npos) {
    if (close < open) return false;
    numbers = text.substr(open + 1, close - open - 1);
  } else {
    const std::size_t space = text.rfind(' ');
    numbers = space == std::string::npos ? text : text.substr(space + 1);
  }
  int values[6];
  std::size_t start = 0;
  for (int i = 0; i < 6; ++i) {
    const std::size_t comma = i < 5 ? numbers.find(',', start) : std::string::npos;
    if (i < 5 && comma == std::string::npos) return false;
    if (!ParseByte(
            numbers.substr(start, comma == std::string::npos ? std::string::npos : comma - start),
            values[i]))
      return false;
    start = comma + 1;
  }
  host = std::to_string(values[0]) + "." + std::to_string(values[1]) + "." +
         std::to_string(values[2]) + "." + std::to_string(values[3]);
  port = values[4] * 256 + values[5];
  return true;
}

bool ParseExtendedPassiveReply(const std::string& text, int& port) {
  // "(<d><d><d><port><d>)": one delimiter, printable and no digit, four times
  // around an empty network family, an empty address and the port.
  const std::size_t open = text.find('(');
  if (open == std::string::npos || text.size() - open < 7) return false;
  const char d = text[open + 1];
  if (d < 33 || d > 126 || (d >= '0' && d <= '9')) return false;
  if (text[open + 2] != d || text[open + 3] != d) return false;
  std::size_t i = open + 4;
  long value = 0;
  const std::size_t digits = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - digits < 5)
    value = value * 10 + (text[i++] - '0');
  if (i == digits || value < 1 || value > 65535) return false;
  if (i + 1 >= text.size() || text[i] != d || text[i + 1] != ')') return false;
  port = static_cast<int>(value);
  return true;
}

void TNetFTP::PrepareDataChannel(TNetTCPConnection& channel) {
  channel.SendBufferSize = SendBufferSize;
  channel.RecvBufferSize = RecvBufferSize;
  channel.BulkReceiveSize = BulkReceiveSize;
  channel.OnWork = OnWork;
  channel.OnWorkBegin = OnWorkBegin;
  channel.OnWorkEnd = OnWorkEnd;
  // A transfer that stalls is bounded like the control connection (no limit
  // with the default ReadTimeout of 0), and stopped like it.
  channel.ReadTimeout = ReadTimeout;
  channel.AbortDescriptor = AbortDescriptor;
  channel.RateLimits.MinRate = MinRate;
  channel.RateLimits.MinRateTime = MinRateTime;
  channel.RateLimits.MaxRate = MaxRate;
  if (tlsContext_) {
    auto handler = std::make_unique<TNetTLSIOHandler>();
    handler->RequireTLSClose = true;
    channel.AdoptIOHandler(std::move(handler));
  }
}

void TNetFTP::QueryPassiveEndpoint(std::string& host, int& port) {
  // The control connection's peer, where the data connection goes unless the
  // reply's own address is trusted (PASV only: EPSV names no address).
  const std::string peer = Binding() ? Binding()->PeerIP() : Host();
  // PASV speaks only IPv4: over IPv6 the extended command is the one, and on
  // IPv4 it stands in for a PASV the server refuses as unknown.
  if (TNetStack::AddressFamily(peer) != AF_INET6) {
    if (SendCommand("PASV", {227, 500, 502}) == 227) {
      const std::string text = FirstReplyLine();
      std::string replyHost;
      if (!ParsePassiveReply(text, replyHost, port))
        throw ENetException(NetMessage(TNetMessage::InvalidPassiveReply, {text}));
      host = PassiveUseReplyHost || !Binding() ? replyHost : peer;
      return;
    }
  }
  SendCommand("EPSV", 229);
  const std::string text = FirstReplyLine();
  if (!ParseExtendedPassiveReply(text, port))
    throw ENetException(NetMessage(TNetMessage::InvalidPassiveReply, {text}));
  host = peer;
}

std::string TNetFTP::FirstReplyLine() {
  return TrimBlanks(LastReply().Text.Count() > 0 ? LastReply().Text[0] : std::string());
}

void TNetFTP::AnnouncePort(const TNetSocketHandle& listenBinding) {
  if (TNetStack::AddressFamily(listenBinding.IP) == AF_INET6) {
    // A zone ("%lo") means nothing to the server: the address alone.
    const std::string address = listenBinding.IP.substr(0, listenBinding.IP.find('%'));
    SendCommand("EPRT |2|" + address + "|" + std::to_string(listenBinding.Port) + "|", 200);
    return;
  }
  std::string address = listenBinding.IP;
  for (char& c : address)
    if (c == '.') c = ',';
  SendCommand("PORT " + address + "," + std::to_string(listenBinding.Port >> 8) + "," +
                  std::to_string(listenBinding.Port & 255),
              200);
}

void TNetFTP::RunDataTransfer(const std::string& command, base::TStream& stream, bool resume,
                              std::int64_t maxBytes) {
  DoStatus(ftpTransfer, "Starting FTP transfer");
  const std::int64_t start = stream.Position();
  const std::string rest = "REST " + std::to_string(start);
  // The bytes this transfer may bring: a resumed one begins past `start`.
  const std::int64_t room =
      maxBytes < 0 ? -1 : std::max<std::int64_t>(0, maxBytes - (resume ? start : 0));
  try {
    if (Passive) {
      std::string host;
      int port = 0;
      QueryPassiveEndpoint(host, port);
      auto link = std::make_unique<TNetTCPClient>();
      TNetTCPClient& client = *link;
      transferLink_ = std::move(link);
      PrepareDataChannel(client);
      client.ConnectTimeout = ConnectTimeout;
      client.SetHost(host);
      client.SetPort(port);
      client.OpenLink(-1);
      if (resume) SendCommand(rest, 350);
      WriteTextLine(command);
      ExpectReply({125, 150, 154});
    } else {
      auto listener = std::make_unique<TNetSimpleServer>();
      TNetSimpleServer& server = *listener;
      transferLink_ = std::move(listener);
      PrepareDataChannel(server);
      server.BeginListen(Binding() ? Binding()->IP : std::string());
      AnnouncePort(server.ListenBinding());
      if (resume) SendCommand(rest, 350);
      SendCommand(command, {125, 150, 154});
      if (!server.WaitForConnection(*this, ConnectTimeout)) {
        // The server answered instead of connecting (or the transfer was
        // aborted): what it said is the error.
        ReadReply();
        RaiseReplyError();
      }
    }
    SecureDataChannel(*transferLink_);
    if (room < 0)
      transferLink_->ReadToStream(stream, -1, true);
    else if (!transferLink_->ReadUntilClosedWithin(stream, room))
      throw ENetTransferTooLong(maxBytes);
    transferLink_->CloseSession();
    transferLink_.reset();
  } catch (const ENetTransferTooLong&) {
    // The rest is not wanted: the data connection goes, and the server is
    // told and heard out, so that the session can go on.
    if (transferLink_) {
      transferLink_->DropSocket();
      transferLink_.reset();
    }
    Resynchronize();
    DoStatus(ftpAborted, "Transfer aborted");
    throw;
  } catch (...) {
    if (transferLink_) {
      transferLink_->DropSocket();
      transferLink_.reset();
    }
    DoStatus(ftpReady, "Transfer complete");
    throw;
  }
  DoStatus(ftpReady, "Transfer complete");
  FinishTransfer();
}

void TNetFTP::FinishTransfer() {
  const std::int16_t code = ExpectReply({225, 226, 250, 426, 450});
  if (code == 426 || code == 450) {
    TNetRFCReply aborted;
    aborted.Assign(LastReply());
    // Some servers follow the abort with 226 or 225, others (most Unix
    // servers) send the abort alone: a second reply is read only when one
    // starts within a short wait, or the next command would wait for ever
    // behind a reply that never comes.
    const int wait =
        ReadTimeout > 0 ? std::min(ReadTimeout, kSecondEndReplyWait) : kSecondEndReplyWait;
    if (InputBuffer().Size() > 0 || FillInputBuffer(false, wait, false) > 0)
      ExpectReply({226, 225});
    DoStatus(ftpAborted, "Transfer aborted");
    // The data is incomplete: the caller must not take it for a whole file.
    throw ENetProtocolReplyError(aborted.NumericCode(), aborted.FormattedText());
  }
}

bool TNetFTP::Resynchronize() {
  bool open = false;
  try {
    open = IsLinkOpen();
  } catch (const std::exception&) {
    // a connection that fails even to be looked at is lost
  }
  if (!open) {
    CloseSession();
    return false;
  }
  // However the server ends the cut transfer (426 or 451, 226 when it had
  // sent everything, then 225 or 226 for the ABOR, or 426 and 226 for it),
  // NOOP's 200 comes after all of it.
  const int wait = ReadTimeout > 0 ? ReadTimeout : kAbortWait;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
  const int savedTimeout = ReadTimeout;
  bool inStep = false;
  try {
    WriteTextLine("ABOR");
    WriteTextLine("NOOP");
    for (int i = 0; i < kAbortReplies && !inStep; ++i) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) break;
      ReadTimeout = static_cast<int>(left);
      ReadReply();
      inStep = LastReply().NumericCode() == 200;
    }
  } catch (const std::exception&) {
    inStep = false;  // a server that is no longer there, or talks nonsense
  }
  ReadTimeout = savedTimeout;
  if (!inStep) CloseSession();
  return inStep;
}

void TNetFTP::AbortTransfer() {
  if (IsLinkOpen()) WriteTextLine("ABOR");
  if (auto* server = dynamic_cast<TNetSimpleServer*>(transferLink_.get())) server->Abort();
  CloseDataChannel();
}

void TNetFTP::CloseDataChannel() {
  if (transferLink_) transferLink_->DropSocket();
}

}  // namespace krevo::ftp
