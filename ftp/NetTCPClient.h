#pragma once
// TNetTCPClient: a TNetTCPConnection that connects to Host:Port.
#include <string>

#include "ftp/NetTCPConnection.h"

namespace krevo::ftp {

class TNetTCPClient : public TNetTCPConnection {
 public:
  std::string BoundIP;
  int BoundPort = 0;
  int BoundPortMin = 0;
  int BoundPortMax = 0;
  // Milliseconds: the limit of a connect asked for with the timeout -1; 0:
  // none.
  int ConnectTimeout = 0;
  TNotifyEvent OnConnected;

  const std::string& Host() const { return host_; }
  int Port() const { return port_; }
  virtual void SetHost(const std::string& host) { host_ = host; }
  virtual void SetPort(int port) { port_ = port; }
  virtual void DoOnConnected();
  // Connects to Host:Port. `timeout` -1: ConnectTimeout; 0: a connect without
  // a limit of its own; any other value limits the connect
  // (ENetConnectTimeout).
  // Raises ENetAlreadyConnected when connected, the socket error on
  // failure (the socket is dropped first).
  virtual void OpenLink(int timeout = -1);
  // Connects, reads everything until the peer closes, closes.
  virtual std::string OpenReadAllClose(int timeout = -1);

 protected:
  std::string host_;
  int port_ = 0;
};

}  // namespace krevo::ftp
