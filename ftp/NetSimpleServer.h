#pragma once
// TNetSimpleServer: the data channel of active mode. It listens on a local
// address, takes the one connection the server makes, stops listening, and is
// then read like any connection.
#include <string>

#include "ftp/NetSocketHandle.h"
#include "ftp/NetTCPConnection.h"

namespace krevo::ftp {

class TNetSimpleServer final : public TNetTCPConnection {
 public:
  // How often the wait for the server's connection looks for an abort or a
  // reply on the control connection, in milliseconds.
  int AcceptPollInterval = 100;

  // Allocates a stream socket of `ip`'s family (IPv4 when empty) bound to
  // `ip` and any free port, and listens with a backlog of 15. Throws
  // ENetSocketError.
  void BeginListen(const std::string& ip);
  // The listening socket's binding (its IP and Port are announced to the server).
  const TNetSocketHandle& ListenBinding() const { return listener_; }
  // Waits until the server connects, an abort is requested, or `control` (the
  // borrowed control connection) has a reply to read first. Returns true with
  // the connection accepted as this object's socket and the listener closed;
  // false on abort or when `control` spoke first (its reply is left unread).
  // No connection within `timeout` ms (0: no limit) raises
  // ENetConnectTimeout; a readable AbortDescriptor raises ENetOperationAborted.
  bool WaitForConnection(TNetTCPConnection& control, int timeout = 0);
  // Ends a running WaitForConnection; safe to call from an event handler.
  void Abort() { abortRequested_ = true; }

 private:
  TNetSocketHandle listener_;
  bool abortRequested_ = false;
};

}  // namespace krevo::ftp
