#include "ftp/NetIOHandler.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <vector>

#include "ftp/NetExceptions.h"

namespace krevo::ftp {

void TNetIOHandlerSocket::Open() {
  if (!binding_)
    binding_ = std::make_unique<TNetSocketHandle>();
  else
    binding_->CloseSocket();
}

void TNetIOHandlerSocket::Close() {
  if (binding_) binding_->CloseSocket();
}

bool TNetIOHandlerSocket::Connected() const { return binding_ && binding_->HandleAllocated(); }

void TNetIOHandlerSocket::ConnectClient(const std::string& host, int port,
                                        const std::string& boundIP, int boundPort,
                                        int boundPortMin, int boundPortMax, int timeout) {
  if (!binding_) Open();
  TNetStack& stack = Stack();
  bool socks = SocksInfo.Version != svNoSocks;
  const std::string& target = socks ? SocksInfo.Host : host;
  int targetPort = socks ? SocksInfo.Port : port;

  if (TNetStack::AddressFamily(target) == AF_UNSPEC) DoStatus(hsResolving, target);
  const std::vector<std::string> addresses = stack.LookUpHostAddresses(target);
  // Each address in turn until one connects, each with the whole limit: a
  // name whose first address is unreachable (an IPv6 address on a host
  // without an IPv6 route) still connects by its next one. The failure of the
  // last attempt is the one reported; an abort ends the attempts at once.
  for (std::size_t i = 0;; ++i) {
    try {
      ConnectTo(addresses[i], targetPort, boundIP, boundPort, boundPortMin, boundPortMax, timeout);
      break;
    } catch (const ENetSocketError&) {
      if (i + 1 == addresses.size()) throw;
    } catch (const ENetConnectException&) {
      if (i + 1 == addresses.size()) throw;
    } catch (const ENetConnectTimeout&) {
      if (i + 1 == addresses.size()) throw;
    }
  }
  if (socks) throw ENetException(TNetMessage::CommandNotSupported);
}

void TNetIOHandlerSocket::ConnectTo(const std::string& ip, int port, const std::string& boundIP,
                                    int boundPort, int boundPortMin, int boundPortMax,
                                    int timeout) {
  TNetStack& stack = Stack();
  binding_->AllocateSocket(SOCK_STREAM, 0, TNetStack::AddressFamily(ip));
  binding_->IP = boundIP;
  binding_->Port = boundPort;
  binding_->ClientPortMin = boundPortMin;
  binding_->ClientPortMax = boundPortMax;
  binding_->Bind();
  binding_->EnableKeepAlive();
  binding_->SetPeer(ip, port);
  if (!UseNagle) {
    int one = 1;
    stack.CheckSocketResult(
        stack.SetSocketOption(binding_->Handle(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one));
  }
  DoStatus(hsConnecting, ip);
  const bool unlimited = timeout == -1 || timeout == 0;
  // A plain connect cannot be woken: with an abort descriptor the connect is
  // a watched one, without a limit of its own.
  if (unlimited && AbortDescriptor < 0)
    stack.CheckSocketResult(binding_->Connect());
  else
    binding_->ConnectWithTimeout(unlimited ? kInfiniteWait : timeout, AbortDescriptor);
}

bool TNetIOHandlerSocket::Readable(int ms) {
  if (!binding_) throw ENetConnClosedGracefully();
  return binding_->PollReadable(ms, AbortDescriptor);
}

std::int64_t TNetIOHandlerSocket::Recv(void* buffer, std::int64_t length) {
  if (!Connected()) throw ENetClosedSocket();
  return binding_->Recv(buffer, length);
}

std::int64_t TNetIOHandlerSocket::Send(const void* buffer, std::int64_t length) {
  if (!Connected()) throw ENetClosedSocket();
  return binding_->Send(buffer, length);
}

}  // namespace krevo::ftp
