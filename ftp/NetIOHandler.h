#pragma once
// The I/O handler of a connection: TNetIOHandler is the interface
// the connection talks to; TNetIOHandlerSocket carries it over one
// TNetSocketHandle, which it owns. The intercept is the hook for a
// layer that sees (and may transform) every byte of a connection.
#include <cstdint>
#include <memory>
#include <string>

#include "ftp/NetComponent.h"
#include "ftp/NetSocketHandle.h"

namespace krevo::ftp {

class TNetSimpleBuffer;
class TNetTCPConnection;

// Never configured by the updater; krevo-ftp -v uses one to show the control
// connection's lines. Receive and Send may change the buffer in place.
class TNetConnectionIntercept {
 public:
  virtual ~TNetConnectionIntercept() = default;
  virtual void Connect(TNetTCPConnection& connection) { (void)connection; }
  virtual void Disconnect() {}
  virtual void Receive(TNetSimpleBuffer& buffer) { (void)buffer; }
  virtual void Send(TNetSimpleBuffer& buffer) { (void)buffer; }
};

enum TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };

// The SOCKS settings (default port 1080, no SOCKS). The negotiation itself is
// not part of this build: a SOCKS version other than svNoSocks makes the connect
// fail with ENetException "Command not supported.".
struct TNetSocksInfo {
  TSocksVersion Version = svNoSocks;
  std::string Host;
  int Port = 1080;
  std::string Username;
  std::string Password;
};

class TNetIOHandler : public TNetComponent {
 public:
  // A descriptor (borrowed, -1: none) watched by every wait of the handler,
  // the connect included: once it is readable the wait raises
  // ENetOperationAborted. It is never read. The connection sets it when it
  // opens.
  int AbortDescriptor = -1;

  // Creates the socket handle, or resets the existing one.
  virtual void Open() = 0;
  // Closes the socket.
  virtual void Close() = 0;
  virtual bool Connected() const = 0;
  // Resolves, then binds and connects to each address of `host` in turn
  // until one connects, with keep-alive on. `timeout` applies to each
  // attempt; -1 or 0: no limit (a plain blocking connect unless an abort
  // descriptor is watched). Raises the last attempt's failure.
  virtual void ConnectClient(const std::string& host, int port, const std::string& boundIP,
                             int boundPort, int boundPortMin, int boundPortMax, int timeout) = 0;
  // True when a receive will not block within `ms` (kInfiniteWait: no limit);
  // ENetOperationAborted once the abort descriptor is readable.
  virtual bool Readable(int ms) = 0;
  // Raw results (-1: failure); a handler without socket raises
  // ENetClosedSocket "Disconnected.".
  virtual std::int64_t Recv(void* buffer, std::int64_t length) = 0;
  virtual std::int64_t Send(const void* buffer, std::int64_t length) = 0;
};

class TNetIOHandlerSocket : public TNetIOHandler {
 public:
  TNetSocksInfo SocksInfo;
  bool UseNagle = true;

  // The socket handle; null before Open.
  TNetSocketHandle* Binding() const { return binding_.get(); }

  void Open() override;
  void Close() override;
  bool Connected() const override;
  void ConnectClient(const std::string& host, int port, const std::string& boundIP, int boundPort,
                     int boundPortMin, int boundPortMax, int timeout) override;
  bool Readable(int ms) override;
  std::int64_t Recv(void* buffer, std::int64_t length) override;
  std::int64_t Send(const void* buffer, std::int64_t length) override;

 private:
  // One attempt: a socket of `ip`'s family, bound and connected to ip:port.
  void ConnectTo(const std::string& ip, int port, const std::string& boundIP, int boundPort,
                 int boundPortMin, int boundPortMax, int timeout);

  std::unique_ptr<TNetSocketHandle> binding_;
};

}  // namespace krevo::ftp
