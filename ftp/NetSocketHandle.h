#pragma once
// TNetSocketHandle: one operating-system socket, its local binding and its peer
// It owns the socket and closes it when destroyed.
#include <cstdint>
#include <string>

#include "ftp/NetStack.h"

namespace krevo::ftp {

class TNetSocketHandle final {
 public:
  TNetSocketHandle() = default;
  ~TNetSocketHandle();
  TNetSocketHandle(const TNetSocketHandle&) = delete;
  TNetSocketHandle& operator=(const TNetSocketHandle&) = delete;

  // Published: the local port range and the local binding.
  int ClientPortMin = 0;
  int ClientPortMax = 0;
  std::string IP;  // local address (before Bind: the address to bind; after: the bound one)
  int Port = 0;    // local port (likewise)

  const std::string& PeerIP() const { return peerIP_; }
  int PeerPort() const { return peerPort_; }
  void SetPeer(const std::string& ip, int port) {
    peerIP_ = ip;
    peerPort_ = port;
  }
  TNetSocket Handle() const { return handle_; }
  bool HandleAllocated() const { return allocated_; }

  // Closes any current socket, resets the binding, then opens a new socket
  // (stream: type 1, protocol 0) of `family` (AF_INET or AF_INET6). Throws
  // ENetInvalidSocket.
  void AllocateSocket(int type = 1, int protocol = 0, int family = AF_INET);
  // When allocated: clears the flag, shuts down sending, closes; results
  // ignored.
  void CloseSocket();
  // Takes over an accepted socket (the listener's side of active mode), with
  // keep-alive on.
  void AdoptSocket(TNetSocket s, const std::string& peerIP, int peerPort);
  // Binds to IP:Port, or to a port of ClientPortMin..ClientPortMax when Port is
  // 0 and both ends are non-zero; reads the
  // bound address back into IP and Port. Throws ENetCouldNotBindSocket,
  // ENetInvalidPortRange, ENetCanNotBindPortInRange or ENetSocketError.
  void Bind();
  // A blocking connect to the peer; on success reads the local and peer
  // address back. Returns the raw result (-1: Stack().LastError() says why).
  int Connect();
  // A connect limited to `ms` (kInfiniteWait: no limit). A time-out closes the
  // socket and raises ENetConnectTimeout; a failure raises ENetConnectException
  // with the failed connect's message. `abortFd` (borrowed, -1: none) is
  // watched meanwhile: once it is readable the socket is closed and
  // ENetOperationAborted raised.
  void ConnectWithTimeout(int ms, int abortFd = -1);
  // True when data (or the peer's close) can be read within `ms`
  // (kInfiniteWait: no limit); a time-out and a failed wait both give false.
  // A socket that is not allocated raises ENetConnClosedGracefully; an
  // `abortFd` (borrowed, -1: none) that is or becomes readable raises
  // ENetOperationAborted.
  bool PollReadable(int ms, int abortFd = -1);
  // TCP keep-alive with probes after two minutes of silence, every 30
  // seconds, four times. Failures are ignored.
  void EnableKeepAlive();
  int Listen(int backlog);
  // Raw send and receive on this socket; -1 on failure.
  std::int64_t Send(const void* buffer, std::int64_t length);
  std::int64_t Recv(void* buffer, std::int64_t length);
  // Reads the bound address and port back from the socket.
  void UpdateBindingLocal();
  void UpdateBindingPeer();

 private:
  TNetSocket handle_ = kInvalidSocket;
  bool allocated_ = false;
  std::string peerIP_;
  int peerPort_ = 0;
};

}  // namespace krevo::ftp
