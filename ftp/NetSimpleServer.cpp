#include "ftp/NetSimpleServer.h"

#include <chrono>

#include "ftp/NetComponent.h"
#include "ftp/NetExceptions.h"

namespace krevo::ftp {

void TNetSimpleServer::BeginListen(const std::string& ip) {
  PrepareIOHandler();
  IOHandler()->Open();
  ResetLink();
  abortRequested_ = false;
  // The listener takes the family of the address it binds to (the control
  // connection's own), so the server can reach it the way it reached us.
  listener_.AllocateSocket(1, 0, TNetStack::AddressFamily(ip) == AF_INET6 ? AF_INET6 : AF_INET);
  listener_.IP = ip;
  listener_.Port = 0;
  listener_.Bind();
  Stack().CheckSocketResult(listener_.Listen(15));
}

bool TNetSimpleServer::WaitForConnection(TNetTCPConnection& control, int timeout) {
  TNetStack& stack = Stack();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
  while (!abortRequested_) {
    if (timeout > 0 && std::chrono::steady_clock::now() >= deadline) throw ENetConnectTimeout();
    if (listener_.PollReadable(AcceptPollInterval, AbortDescriptor)) {
      std::string peerIP;
      int peerPort = 0;
      TNetSocket s = stack.Accept(listener_.Handle(), peerIP, peerPort);
      stack.CheckSocketResult(s);
      listener_.CloseSocket();
      static_cast<TNetIOHandlerSocket*>(IOHandler())->Binding()->AdoptSocket(s, peerIP, peerPort);
      return true;
    }
    // A server that cannot connect says so on the control connection instead;
    // waiting on would never end.
    if (control.InputBuffer().Size() > 0 || control.Binding() == nullptr ||
        !control.Binding()->HandleAllocated() || control.Binding()->PollReadable(0))
      return false;
  }
  return false;
}

}  // namespace krevo::ftp
