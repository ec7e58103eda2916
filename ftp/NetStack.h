#pragma once
// TNetStack: the one place where the FTP client touches the operating system's
// network interface. On Linux it is built on POSIX sockets, IPv4 and IPv6:
// addresses are text in and out, dotted for IPv4 and the numeric form for
// IPv6 (without brackets). Failures are reported with the Windows Sockets error numbers of the
// error table where a platform error corresponds to one (ErrorFromErrno), and
// with the platform's own number and no text otherwise. EINTR is retried, never
// reported. One object exists per process while any TNetComponent exists.
#include <sys/socket.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/StringList.h"

namespace krevo::ftp {

using TNetSocket = int;
constexpr TNetSocket kInvalidSocket = -1;
constexpr int kSocketError = -1;

// Windows Sockets numbers that callers test for.
enum : int {
  WSAEBADF = 10009,
  WSAEINVAL = 10022,
  WSAEWOULDBLOCK = 10035,
  WSAEINPROGRESS = 10036,
  WSAENOTSOCK = 10038,
  WSAEADDRINUSE = 10048,
  WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050,
  WSAENETUNREACH = 10051,
  WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054,
  WSAESHUTDOWN = 10058,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAEHOSTDOWN = 10064,
  WSAEHOSTUNREACH = 10065,
  WSAHOST_NOT_FOUND = 11001,
};

// The Windows Sockets number for a POSIX errno value, or the value itself when
// none corresponds.
int ErrorFromErrno(int err);

// The message of a socket error: "Socket Error # <n>" CR LF and the number's text
// (nothing for a number outside the table).
std::string SocketErrorMessage(int errorNumber);

// The select-style split of a wait in milliseconds into seconds and
// microseconds (1500 ms: 1 s and 500000 us).
struct TNetWaitTime {
  long seconds;
  long microseconds;
};
TNetWaitTime SplitWaitTime(int ms);

// What WaitForSocket returns when its abort descriptor became readable.
constexpr int kWaitAborted = -3;

class TNetStack final {
 public:
  TNetStack();
  TNetStack(const TNetStack&) = delete;
  TNetStack& operator=(const TNetStack&) = delete;

  // --- The raw operations: they return the platform's plain result (-1 on
  // failure, with LastError() telling why) and raise nothing.
  // `family` AF_INET or AF_INET6.
  TNetSocket CreateSocket(int type, int protocol, int family = AF_INET);
  // The address must be of the socket's family; empty text binds to that
  // family's any-address. Text that is no address fails with 10022.
  int Bind(TNetSocket s, const std::string& ip, int port);
  int Connect(TNetSocket s, const std::string& ip, int port);
  int Listen(TNetSocket s, int backlog);
  // Returns the new socket and fills the peer's address text and port.
  TNetSocket Accept(TNetSocket s, std::string& peerIP, int& peerPort);
  // Receives up to `length` bytes (flags 0): the count, 0 when the peer closed,
  // -1 on failure.
  std::int64_t Recv(TNetSocket s, void* buffer, std::int64_t length);
  // Sends with MSG_NOSIGNAL, so a closed peer never raises SIGPIPE.
  std::int64_t Send(TNetSocket s, const void* buffer, std::int64_t length);
  int Shutdown(TNetSocket s, int how);
  int Close(TNetSocket s);
  int SetSocketOption(TNetSocket s, int level, int option, const void* value, int length);
  int GetSocketOption(TNetSocket s, int level, int option, void* value, int* length);
  int GetSocketName(TNetSocket s, std::string& ip, int& port);
  int GetPeerName(TNetSocket s, std::string& ip, int& port);

  // The error number of the last failing call on this thread (Windows Sockets
  // numbering).
  int LastError() const;
  void SetLastError(int errorNumber);

  // Waits until one of the read sockets is readable (select-style, each set at
  // most 64 sockets, else ENetStackSetSizeExceeded). `ms` kInfiniteWait: no
  // limit. Returns the readable sockets' count; 0 on time-out, -1 on failure.
  int Select(std::vector<TNetSocket>& readSet, std::vector<TNetSocket>* writeSet,
             std::vector<TNetSocket>* errorSet, int ms);
  // Waits up to `ms` (kInfiniteWait: no limit) for one socket to become
  // readable, with poll(2) (any socket number works). A time-out and a failure
  // both give false.
  bool PollReadable(TNetSocket s, int ms);
  // Waits up to `ms` for a socket to become writable (used by the timed
  // connect): 1 writable, 0 time-out, -1 failure.
  int PollWritable(TNetSocket s, int ms);
  // Waits up to `ms` (kInfiniteWait: no limit) for `s` to become readable
  // (or writable, with `forWriting`) while watching `abortFd` (-1: none) for
  // input: 1 ready, 0 time-out, -1 failure, kWaitAborted when `abortFd`
  // became readable, which wins over a ready socket. `abortFd` is never read.
  int WaitForSocket(TNetSocket s, bool forWriting, int ms, int abortFd);

  // --- The base class's operations.
  // -1 with an error in `tolerated`: true. Any other -1: ENetSocketError. Any
  // other result: false.
  bool CheckSocketResult(std::int64_t result, std::initializer_list<int> tolerated = {});
  // Raises ENetSocketError with `errorNumber` and its message.
  [[noreturn]] void ThrowSocketError(int errorNumber);
  // socket(family, type, protocol); failure raises ENetInvalidSocket.
  TNetSocket OpenSocketHandle(int type, int protocol, int family = AF_INET);
  // The addresses to try for `name`, in order: "LOCALHOST" in any case gives
  // "127.0.0.1" alone, an address (dotted IPv4, or IPv6 text without
  // brackets) is returned as it stands, anything else is looked up
  // (getaddrinfo, IPv6 and IPv4) and each address it gives returned once. A
  // name that does not resolve raises the socket error 11001 "Host not
  // found." (a failing system call or memory their own numbers).
  std::vector<std::string> LookUpHostAddresses(const std::string& name);
  // The first of LookUpHostAddresses.
  std::string LookUpHostAddress(const std::string& name);
  // Four parts cut at the first three "."s, each an integer 0..255.
  static bool IsDottedAddress(const std::string& text);
  // AF_INET for a dotted address, AF_INET6 for IPv6 address text (a zone
  // such as "%lo" allowed, no brackets), AF_UNSPEC (0) for anything else,
  // a host name included. Never looks a name up.
  static int AddressFamily(const std::string& text);

  std::string HostName();
  // Every IPv4 address of the local host name, dotted; refilled on each call.
  const base::TStringList& LocalAddresses();
  std::string LocalAddress();
  // The name of an address, or empty.
  std::string HostByAddress(const std::string& ip);
  // The port of a service name, or the number itself; else
  // ENetInvalidServiceName.
  int ServicePort(const std::string& service);
  std::string ServiceName(int port);

  static std::uint16_t HToNS(std::uint16_t v);
  static std::uint16_t NToHS(std::uint16_t v);
  static std::uint32_t HToNL(std::uint32_t v);
  static std::uint32_t NToHL(std::uint32_t v);
  // Four bytes (network order) to dotted text, and back (false when invalid).
  static std::string AddressToText(std::uint32_t networkAddress);
  static bool TextToAddress(const std::string& text, std::uint32_t& networkAddress);

 private:
  base::TStringList localAddresses_;
};

}  // namespace krevo::ftp
