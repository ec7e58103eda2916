#include "ftp/NetTCPClient.h"

namespace krevo::ftp {

void TNetTCPClient::DoOnConnected() {
  if (OnConnected) OnConnected(this);
}

void TNetTCPClient::OpenLink(int timeout) {
  if (timeout == -1) timeout = ConnectTimeout;
  PrepareIOHandler();
  try {
    IOHandler()->Open();
    ResetLink();
    IOHandler()->ConnectClient(host_, port_, BoundIP, BoundPort, BoundPortMin, BoundPortMax,
                               timeout);
    if (Intercept) Intercept->Connect(*this);
    DoStatus(hsConnected, host_);
    DoOnConnected();
  } catch (...) {
    DropSocket();
    throw;
  }
}

std::string TNetTCPClient::OpenReadAllClose(int timeout) {
  OpenLink(timeout);
  std::string data;
  try {
    data = ReadUntilClosed();
  } catch (...) {
    CloseSession();
    throw;
  }
  CloseSession();
  return data;
}

}  // namespace krevo::ftp
