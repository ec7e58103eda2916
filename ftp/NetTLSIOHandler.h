#pragma once
// TNetTLSIOHandler: a socket I/O handler that can switch its connection to
// TLS (as client). Until StartTLS it is the plain socket handler byte for
// byte; afterwards every receive and send goes through the TLS session, so
// the connection above, its line reading and its reply layer, stay as they
// are. Once TLS runs the socket is non-blocking and every wait is a poll that
// watches AbortDescriptor, so no call can hang past its limit or a stop.
#include <cstdint>
#include <exception>
#include <string>

#include "ftp/NetIOHandler.h"
#include "ftp/NetTLSContext.h"

namespace krevo::ftp {

class TNetTLSIOHandler final : public TNetIOHandlerSocket {
 public:
  TNetTLSIOHandler() = default;
  ~TNetTLSIOHandler() override;

  // With true, the peer's end of the stream must be the TLS close
  // (close_notify): a bare TCP close is taken for a transfer cut short and
  // raises ENetTLSError. Data connections set it; a control connection's
  // replies have their own framing.
  bool RequireTLSClose = false;

  // The TLS handshake over the connected socket, as client of `context`
  // (borrowed; must outlive the TLS session), resuming context.Session() when
  // there is one. `host` is checked against the certificate (an address
  // literal as an IP address, an IPv6 one without its "%zone"; anything else
  // as a DNS name, also sent as SNI) when the context verifies. `timeout` ms
  // (kInfiniteWait: none) bounds the handshake and every later send; a
  // receive is bounded by the caller's waits.
  // Throws ENetTLSCertificateError for a refused certificate; ENetTLSError
  // "Cannot check the server's identity: ..." before anything is sent when
  // the context verifies and `host` cannot be set as the identity (empty, a
  // NUL byte, an address OpenSSL does not parse), so that no certificate is
  // ever taken unchecked; ENetTLSError for any other TLS failure; the socket
  // error of the stack when the
  // connection fails or the peer drops it during the handshake
  // (10054 when it simply closes), ENetReadTimeout, ENetOperationAborted.
  void StartTLS(TNetTLSContext& context, const std::string& host, int timeout);
  bool TLSActive() const { return ssl_ != nullptr; }
  // "TLSv1.3, TLS_AES_256_GCM_SHA384"; empty without TLS.
  std::string Description() const;
  // Whether the handshake resumed the context's session.
  bool SessionReused() const;

  // Sends the TLS close when the session is still sound (without waiting),
  // then closes the socket.
  void Close() override;
  // True as soon as decrypted data, the peer's close or a failure is there to
  // be received; records that carry no data (a TLS 1.3 ticket) are taken in
  // on the way without ending the wait.
  bool Readable(int ms) override;
  // Up to `length` decrypted bytes; 0 at the peer's TLS close (answered with
  // ours); -1 with the stack's last error set when the socket fails. Throws
  // ENetTLSError as StartTLS.
  std::int64_t Recv(void* buffer, std::int64_t length) override;
  // All of `length` bytes, or -1 with the stack's last error set.
  std::int64_t Send(const void* buffer, std::int64_t length) override;

 private:
  // Waits for what SSL_get_error `sslError` asks (readable or writable) until
  // `deadline` (steady clock ms; -1: none). False on time-out.
  bool WaitForTLS(int sslError, std::int64_t deadline);
  // WaitForTLS for the handshake and the sends, which may not fail half way
  // and go on: a time-out leaves the session fatal and throws ENetReadTimeout.
  void WaitForTLSOrTimeOut(int sslError, std::int64_t deadline);
  // What a failed SSL call (`result` of SSL_get_error) means: remembered as
  // fatal, then thrown, or turned into -1 with the stack's last error.
  std::int64_t Failure(int sslError, bool handshake);
  // Failure, kept for the next Recv instead of thrown or returned now.
  void DeferFailure(int sslError);
  void SendClose();

  UniqueSsl ssl_;
  int timeout_ = -1;
  bool fatal_ = false;  // no more SSL calls on this session
  bool peerClosed_ = false;
  // A failure met while looking ahead (Readable) or after some data was
  // received, reported by the next Recv.
  std::exception_ptr pending_;
  int pendingSocketError_ = 0;
};

}  // namespace krevo::ftp
