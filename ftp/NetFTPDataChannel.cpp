// The data channel of TNetFTP: passive and active transfers, the PASV and PORT
// exchanges, abort.
#include <cstdint>

#include "ftp/NetFTP.h"
#include "ftp/NetSimpleServer.h"
#include "ftp/NetText.h"
#include "ftp/NetTLSIOHandler.h"

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
    if (!ParseByte(numbers.substr(start, comma == std::string::npos ? std::string::npos : comma - start),
                   values[i]))
      return false;
    start = comma + 1;
  }
  host = std::to_string(values[0]) + "." + std::to_string(values[1]) + "." +
         std::to_string(values[2]) + "." + std::to_string(values[3]);
  port = values[4] * 256 + values[5];
  return true;
}

void TNetFTP::PrepareDataChannel(TNetTCPConnection& channel) {
  channel.SendBufferSize = SendBufferSize;
  channel.RecvBufferSize = RecvBufferSize;
  channel.OnWork = OnWork;
  channel.OnWorkBegin = OnWorkBegin;
  channel.OnWorkEnd = OnWorkEnd;
  // A transfer that stalls is bounded like the control connection (no limit
  // with the default ReadTimeout of 0), and stopped like it.
  channel.ReadTimeout = ReadTimeout;
  channel.AbortDescriptor = AbortDescriptor;
  if (tlsContext_) {
    auto handler = std::make_unique<TNetTLSIOHandler>();
    handler->RequireTLSClose = true;
    channel.AdoptIOHandler(std::move(handler));
  }
}

void TNetFTP::QueryPassiveEndpoint(std::string& host, int& port) {
  SendCommand("PASV", 227);
  const std::string text = TrimBlanks(LastReply().Text.Count() > 0 ? LastReply().Text[0] : std::string());
  std::string replyHost;
  if (!ParsePassiveReply(text, replyHost, port))
    throw ENetException(NetMessage(TNetMessage::InvalidPassiveReply, {text}));
  host = PassiveUseReplyHost || !Binding() ? replyHost : Binding()->PeerIP();
}

void TNetFTP::AnnouncePort(const TNetSocketHandle& listenBinding) {
  std::string address = listenBinding.IP;
  for (char& c : address)
    if (c == '.') c = ',';
  SendCommand("PORT " + address + "," + std::to_string(listenBinding.Port >> 8) + "," +
                  std::to_string(listenBinding.Port & 255),
              200);
}

void TNetFTP::RunDataTransfer(const std::string& command, base::TStream& stream, bool resume) {
  DoStatus(ftpTransfer, "Starting FTP transfer");
  const std::string rest = "REST " + std::to_string(stream.Position());
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
    transferLink_->ReadToStream(stream, -1, true);
    transferLink_->CloseSession();
    transferLink_.reset();
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
    ExpectReply({226, 225});
    DoStatus(ftpAborted, "Transfer aborted");
    // The data is incomplete: the caller must not take it for a whole file.
    throw ENetProtocolReplyError(aborted.NumericCode(), aborted.FormattedText());
  }
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
