#include "ftp/NetSocketHandle.h"

#include <fcntl.h>
#include <sys/socket.h>

#include "ftp/NetComponent.h"
#include "ftp/NetExceptions.h"

namespace krevo::ftp {

TNetSocketHandle::~TNetSocketHandle() { CloseSocket(); }

void TNetSocketHandle::AllocateSocket(int type, int protocol) {
  CloseSocket();
  IP.clear();
  Port = 0;
  peerIP_.clear();
  peerPort_ = 0;
  handle_ = TNetComponent::Stack().OpenSocketHandle(type, protocol);
  allocated_ = true;
}

void TNetSocketHandle::CloseSocket() {
  if (!allocated_) return;
  allocated_ = false;
  TNetStack& stack = TNetComponent::Stack();
  stack.Shutdown(handle_, SHUT_WR);
  stack.Close(handle_);
  handle_ = kInvalidSocket;
}

void TNetSocketHandle::AdoptSocket(TNetSocket s, const std::string& peerIP, int peerPort) {
  CloseSocket();
  handle_ = s;
  allocated_ = true;
  peerIP_ = peerIP;
  peerPort_ = peerPort;
  UpdateBindingLocal();
}

void TNetSocketHandle::Bind() {
  TNetStack& stack = TNetComponent::Stack();
  if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
    if (stack.CheckSocketResult(stack.Bind(handle_, IP, Port), {WSAEADDRINUSE}))
      throw ENetCouldNotBindSocket();
  } else {
    if (ClientPortMax < ClientPortMin) throw ENetInvalidPortRange(ClientPortMin, ClientPortMax);
    bool bound = false;
    for (int port = ClientPortMin; port <= ClientPortMax && !bound; ++port)
      bound = !stack.CheckSocketResult(stack.Bind(handle_, IP, port), {WSAEADDRINUSE});
    if (!bound) throw ENetCanNotBindPortInRange(ClientPortMin, ClientPortMax);
  }
  UpdateBindingLocal();
}

void TNetSocketHandle::UpdateBindingLocal() {
  TNetComponent::Stack().GetSocketName(handle_, IP, Port);
}

void TNetSocketHandle::UpdateBindingPeer() {
  TNetComponent::Stack().GetPeerName(handle_, peerIP_, peerPort_);
}

int TNetSocketHandle::Connect() {
  int rc = TNetComponent::Stack().Connect(handle_, peerIP_, peerPort_);
  if (rc == 0) {
    UpdateBindingLocal();
    UpdateBindingPeer();
  }
  return rc;
}

void TNetSocketHandle::ConnectWithTimeout(int ms) {
  // A non-blocking connect and poll stand in for a connect thread;
  // the outcomes are the same.
  TNetStack& stack = TNetComponent::Stack();
  int flags = ::fcntl(handle_, F_GETFL);
  ::fcntl(handle_, F_SETFL, flags | O_NONBLOCK);
  int rc = stack.Connect(handle_, peerIP_, peerPort_);
  int err = rc == 0 ? 0 : stack.LastError();
  if (rc != 0 && (err == WSAEINPROGRESS || err == WSAEWOULDBLOCK)) {
    int ready = stack.PollWritable(handle_, ms);
    if (ready == 0) {
      CloseSocket();
      throw ENetConnectTimeout();
    }
    err = ready < 0 ? stack.LastError() : 0;
    if (ready > 0) {
      int soError = 0, len = sizeof soError;
      if (stack.GetSocketOption(handle_, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
        err = stack.LastError();
      else if (soError != 0)
        err = ErrorFromErrno(soError);
    }
  }
  if (allocated_) ::fcntl(handle_, F_SETFL, flags);
  if (err != 0 && err != WSAEBADF && err != WSAENOTSOCK) {
    stack.SetLastError(err);
    throw ENetConnectException(SocketErrorMessage(err));
  }
  UpdateBindingLocal();
  UpdateBindingPeer();
}

bool TNetSocketHandle::PollReadable(int ms) {
  if (!allocated_) throw ENetConnClosedGracefully();
  return TNetComponent::Stack().PollReadable(handle_, ms);
}

int TNetSocketHandle::Listen(int backlog) { return TNetComponent::Stack().Listen(handle_, backlog); }

std::int64_t TNetSocketHandle::Send(const void* buffer, std::int64_t length) {
  return TNetComponent::Stack().Send(handle_, buffer, length);
}

std::int64_t TNetSocketHandle::Recv(void* buffer, std::int64_t length) {
  return TNetComponent::Stack().Recv(handle_, buffer, length);
}

}  // namespace krevo::ftp
