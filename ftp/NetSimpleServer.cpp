#include "ftp/NetSimpleServer.h"

#include "ftp/NetComponent.h"

namespace krevo::ftp {

void TNetSimpleServer::BeginListen(const std::string& ip) {
  PrepareIOHandler();
  IOHandler()->Open();
  ResetLink();
  abortRequested_ = false;
  listener_.AllocateSocket(1, 0);
  listener_.IP = ip;
  listener_.Port = 0;
  listener_.Bind();
  Stack().CheckSocketResult(listener_.Listen(15));
}

bool TNetSimpleServer::WaitForConnection(TNetTCPConnection& control) {
  TNetStack& stack = Stack();
  while (!abortRequested_) {
    if (listener_.PollReadable(AcceptPollInterval)) {
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
