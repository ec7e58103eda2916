// The TLS steps of TNetFTP: AUTH TLS on the control connection, the handshake
// of every data connection.
#include "ftp/NetFTP.h"
#include "ftp/NetTLSIOHandler.h"

namespace krevo::ftp {

int TNetFTP::TLSWaitLimit() const {
  return ReadTimeout == 0 ? kInfiniteWait : ReadTimeout;
}

void TNetFTP::StartControlTLS() {
  auto* handler = dynamic_cast<TNetTLSIOHandler*>(IOHandler());
  if (!handler) throw ENetException(TNetMessage::CommandNotSupported);
  if (SendCommand("AUTH TLS", -1) != 234) {
    // No fallback to clear text: the password must not cross unprotected.
    throw ENetProtocolReplyError(
        LastReply().NumericCode(),
        NetMessage(TNetMessage::TLSRefused, {LastReply().FormattedText()}));
  }
  // Bytes that came with the 234 were sent in clear by whoever sits in
  // between; taken as the server's first reply over TLS they would be a
  // forged one.
  if (InputBuffer().Size() > 0) throw ENetTLSError(NetMessage(TNetMessage::TLSDataBeforeHandshake));
  handler->StartTLS(*tlsContext_, host_, TLSWaitLimit());
  DoStatus(hsStatusText, "TLS " + handler->Description());
}

void TNetFTP::SecureDataChannel(TNetTCPConnection& channel) {
  if (!tlsContext_) return;
  auto* handler = dynamic_cast<TNetTLSIOHandler*>(channel.IOHandler());
  if (!handler) throw ENetException(TNetMessage::CommandNotSupported);
  handler->StartTLS(*tlsContext_, host_, TLSWaitLimit());
  DoStatus(hsStatusText, "Data connection TLS " + handler->Description() +
                             (handler->SessionReused() ? ", session reused" : ", new session"));
}

std::string TNetFTP::TLSDescription() const {
  auto* handler = dynamic_cast<TNetTLSIOHandler*>(IOHandler());
  return handler ? handler->Description() : std::string();
}

}  // namespace krevo::ftp
