#include "ftp/NetSocketHandle.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "ftp/NetComponent.h"
#include "ftp/NetExceptions.h"

namespace krevo::ftp {

TNetSocketHandle::~TNetSocketHandle() { CloseSocket(); }

void TNetSocketHandle::AllocateSocket(int type, int protocol, int family) {
  CloseSocket();
  IP.clear();
  Port = 0;
  peerIP_.clear();
  peerPort_ = 0;
  handle_ = TNetComponent::Stack().OpenSocketHandle(type, protocol, family);
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
  EnableKeepAlive();
  UpdateBindingLocal();
}

void TNetSocketHandle::EnableKeepAlive() {
  // A peer that vanished without a word (a middlebox dropped the connection,
  // the host lost power) is noticed within minutes instead of never, even
  // without a read time-out. Best effort: a socket without the options still
  // works as before.
  TNetStack& stack = TNetComponent::Stack();
  const int on = 1, idle = 120, interval = 30, probes = 4;
  stack.SetSocketOption(handle_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  stack.SetSocketOption(handle_, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  stack.SetSocketOption(handle_, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  stack.SetSocketOption(handle_, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
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

void TNetSocketHandle::ConnectWithTimeout(int ms, int abortFd) {
  // A non-blocking connect and poll stand in for a connect thread;
  // the outcomes are the same.
  TNetStack& stack = TNetComponent::Stack();
  int flags = ::fcntl(handle_, F_GETFL);
  ::fcntl(handle_, F_SETFL, flags | O_NONBLOCK);
  int rc = stack.Connect(handle_, peerIP_, peerPort_);
  int err = rc == 0 ? 0 : stack.LastError();
  if (rc != 0 && (err == WSAEINPROGRESS || err == WSAEWOULDBLOCK)) {
    int ready = stack.WaitForSocket(handle_, true, ms, abortFd);
    if (ready == 0 || ready == kWaitAborted) {
      CloseSocket();
      if (ready == kWaitAborted) throw ENetOperationAborted();
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

bool TNetSocketHandle::PollReadable(int ms, int abortFd) {
  if (!allocated_) throw ENetConnClosedGracefully();
  const int ready = TNetComponent::Stack().WaitForSocket(handle_, false, ms, abortFd);
  if (ready == kWaitAborted) throw ENetOperationAborted();
  return ready == 1;
}

int TNetSocketHandle::Listen(int backlog) { return TNetComponent::Stack().Listen(handle_, backlog); }

std::int64_t TNetSocketHandle::Send(const void* buffer, std::int64_t length) {
  return TNetComponent::Stack().Send(handle_, buffer, length);
}

std::int64_t TNetSocketHandle::Recv(void* buffer, std::int64_t length) {
  return TNetComponent::Stack().Recv(handle_, buffer, length);
}

}  // namespace krevo::ftp
