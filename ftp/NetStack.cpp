#include "ftp/NetStack.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "ftp/NetExceptions.h"
#include "ftp/NetTypes.h"

namespace krevo::ftp {
namespace {

thread_local int tLastError = 0;

struct TErrorRow {
  int number;
  const char* text;
};

// The socket error texts, word for word.
constexpr TErrorRow kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

// POSIX errno → Windows Sockets number, where one corresponds.
constexpr struct {
  int err;
  int wsa;
} kErrnoMap[] = {
    {EINTR, 10004},         {EBADF, 10009},          {EACCES, 10013},
    {EFAULT, 10014},        {EINVAL, 10022},         {EMFILE, 10024},
    {EWOULDBLOCK, 10035},   {EINPROGRESS, 10036},    {EALREADY, 10037},
    {ENOTSOCK, 10038},      {EDESTADDRREQ, 10039},   {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},    {ENOPROTOOPT, 10042},    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},  {EADDRINUSE, 10048},     {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},      {ENETUNREACH, 10051},    {ENETRESET, 10052},
    {ECONNABORTED, 10053},  {ECONNRESET, 10054},     {ENOBUFS, 10055},
    {EISCONN, 10056},       {ENOTCONN, 10057},       {EPIPE, 10058},
    {ESHUTDOWN, 10058},     {ETOOMANYREFS, 10059},   {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},  {ELOOP, 10062},          {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},     {EHOSTUNREACH, 10065},   {ENOTEMPTY, 10066},
};

int Fail() {
  tLastError = ErrorFromErrno(errno);
  return kSocketError;
}

// A socket address of either family from address text: a dotted IPv4
// address, or IPv6 text (a zone such as "%lo" included) read without any
// look-up; empty text is the any-address of `family`. False for anything else.
bool MakeAddress(const std::string& ip, int port, int family, sockaddr_storage& a, socklen_t& len) {
  a = {};
  const auto netPort = htons(static_cast<std::uint16_t>(port));
  std::uint32_t v4 = htonl(INADDR_ANY);
  if ((ip.empty() && family != AF_INET6) || TNetStack::TextToAddress(ip, v4)) {
    auto& in = reinterpret_cast<sockaddr_in&>(a);
    in.sin_family = AF_INET;
    in.sin_port = netPort;
    in.sin_addr.s_addr = v4;
    len = sizeof in;
    return true;
  }
  auto& in6 = reinterpret_cast<sockaddr_in6&>(a);
  len = sizeof in6;
  if (ip.empty()) {
    in6.sin6_family = AF_INET6;
    in6.sin6_port = netPort;
    in6.sin6_addr = in6addr_any;
    return true;
  }
  if (ip.find(':') == std::string::npos) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* result = nullptr;
  if (::getaddrinfo(ip.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return false;
  std::memcpy(&in6, result->ai_addr, sizeof in6);
  ::freeaddrinfo(result);
  in6.sin6_port = netPort;
  return true;
}

// The address text of a socket address: dotted for IPv4, the numeric form
// (with its zone, if any) for IPv6.
std::string AddressText(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET)
    return TNetStack::AddressToText(reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr);
  char host[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&a), sizeof(sockaddr_in6), host, sizeof host,
                    nullptr, 0, NI_NUMERICHOST) != 0)
    return {};
  return host;
}

int AddressPort(const sockaddr_storage& a) {
  return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(a).sin6_port
                                       : reinterpret_cast<const sockaddr_in&>(a).sin_port);
}

int ReadName(int rc, const sockaddr_storage& a, std::string& ip, int& port) {
  if (rc != 0) return Fail();
  ip = AddressText(a);
  port = AddressPort(a);
  return 0;
}

// The family a socket was made for (AF_INET when it cannot be read).
int SocketFamily(TNetSocket s) {
  int family = AF_INET;
  socklen_t len = sizeof family;
  if (::getsockopt(s, SOL_SOCKET, SO_DOMAIN, &family, &len) != 0) return AF_INET;
  return family;
}

// Parses 1..n decimal digits as a value up to `limit`; false otherwise.
bool ParseNumber(const std::string& s, long limit, long& value) {
  if (s.empty() || s.size() > 10) return false;
  value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value <= limit;
}

}  // namespace

int ErrorFromErrno(int err) {
  for (const auto& row : kErrnoMap)
    if (row.err == err) return row.wsa;
  return err;
}

std::string SocketErrorMessage(int errorNumber) {
  std::string message = "Socket Error # " + std::to_string(errorNumber) + "\r\n";
  for (const auto& row : kErrorTexts)
    if (row.number == errorNumber) return message + row.text;
  return message;
}

TNetWaitTime SplitWaitTime(int ms) { return {ms / 1000, (ms % 1000) * 1000L}; }

TNetStack::TNetStack() = default;

TNetSocket TNetStack::CreateSocket(int type, int protocol, int family) {
  int s = ::socket(family, type | SOCK_CLOEXEC, protocol);
  return s < 0 ? Fail() : s;
}

int TNetStack::Bind(TNetSocket s, const std::string& ip, int port) {
  sockaddr_storage a;
  socklen_t len;
  if (!MakeAddress(ip, port, SocketFamily(s), a, len)) {
    tLastError = WSAEINVAL;
    return kSocketError;
  }
  return ::bind(s, reinterpret_cast<sockaddr*>(&a), len) == 0 ? 0 : Fail();
}

int TNetStack::Connect(TNetSocket s, const std::string& ip, int port) {
  sockaddr_storage a;
  socklen_t len;
  if (!MakeAddress(ip, port, SocketFamily(s), a, len)) {
    tLastError = WSAEINVAL;
    return kSocketError;
  }
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), len) == 0) return 0;
  if (errno != EINTR) return Fail();
  // An interrupted blocking connect goes on in the background: wait for it.
  while (PollWritable(s, kInfiniteWait) < 0) {
  }
  int err = 0;
  socklen_t errLen = sizeof err;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &errLen) != 0) return Fail();
  if (err == 0) return 0;
  tLastError = ErrorFromErrno(err);
  return kSocketError;
}

int TNetStack::Listen(TNetSocket s, int backlog) { return ::listen(s, backlog) == 0 ? 0 : Fail(); }

TNetSocket TNetStack::Accept(TNetSocket s, std::string& peerIP, int& peerPort) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  int n;
  do n = ::accept4(s, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
  while (n < 0 && errno == EINTR);
  if (n < 0) return Fail();
  peerIP = AddressText(a);
  peerPort = AddressPort(a);
  return n;
}

std::int64_t TNetStack::Recv(TNetSocket s, void* buffer, std::int64_t length) {
  ssize_t n;
  do n = ::recv(s, buffer, static_cast<std::size_t>(length), 0);
  while (n < 0 && errno == EINTR);
  return n < 0 ? Fail() : n;
}

std::int64_t TNetStack::Send(TNetSocket s, const void* buffer, std::int64_t length) {
  ssize_t n;
  do n = ::send(s, buffer, static_cast<std::size_t>(length), MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return n < 0 ? Fail() : n;
}

int TNetStack::Shutdown(TNetSocket s, int how) { return ::shutdown(s, how) == 0 ? 0 : Fail(); }

int TNetStack::Close(TNetSocket s) {
  // Linux closes the descriptor even when close reports EINTR: never retry.
  return ::close(s) == 0 ? 0 : Fail();
}

int TNetStack::SetSocketOption(TNetSocket s, int level, int option, const void* value, int length) {
  return ::setsockopt(s, level, option, value, static_cast<socklen_t>(length)) == 0 ? 0 : Fail();
}

int TNetStack::GetSocketOption(TNetSocket s, int level, int option, void* value, int* length) {
  socklen_t len = static_cast<socklen_t>(*length);
  if (::getsockopt(s, level, option, value, &len) != 0) return Fail();
  *length = static_cast<int>(len);
  return 0;
}

int TNetStack::GetSocketName(TNetSocket s, std::string& ip, int& port) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  return ReadName(::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), a, ip, port);
}

int TNetStack::GetPeerName(TNetSocket s, std::string& ip, int& port) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  return ReadName(::getpeername(s, reinterpret_cast<sockaddr*>(&a), &len), a, ip, port);
}

int TNetStack::LastError() const { return tLastError; }
void TNetStack::SetLastError(int errorNumber) { tLastError = errorNumber; }

int TNetStack::Select(std::vector<TNetSocket>& readSet, std::vector<TNetSocket>* writeSet,
                      std::vector<TNetSocket>* errorSet, int ms) {
  constexpr std::size_t kSetSize = 64;
  if (readSet.size() > kSetSize || (writeSet && writeSet->size() > kSetSize) ||
      (errorSet && errorSet->size() > kSetSize))
    throw ENetStackSetSizeExceeded();
  // Built on poll, so socket numbers above FD_SETSIZE work; the time is split
  // as select would take it.
  std::vector<pollfd> fds;
  for (TNetSocket s : readSet) fds.push_back({s, POLLIN, 0});
  if (writeSet)
    for (TNetSocket s : *writeSet) fds.push_back({s, POLLOUT, 0});
  if (errorSet)
    for (TNetSocket s : *errorSet) fds.push_back({s, POLLPRI, 0});
  int timeout = -1;
  if (ms != kInfiniteWait) {
    TNetWaitTime t = SplitWaitTime(ms < 0 ? 0 : ms);
    timeout = static_cast<int>(t.seconds * 1000 + t.microseconds / 1000);
  }
  int n;
  do n = ::poll(fds.data(), fds.size(), timeout);
  while (n < 0 && errno == EINTR);
  if (n < 0) return Fail();
  std::size_t i = 0;
  auto keep = [&](std::vector<TNetSocket>& set) {
    std::vector<TNetSocket> ready;
    for (TNetSocket s : set) {
      if (fds[i++].revents != 0) ready.push_back(s);
    }
    set.swap(ready);
    return static_cast<int>(set.size());
  };
  int count = keep(readSet);
  if (writeSet) count += keep(*writeSet);
  if (errorSet) count += keep(*errorSet);
  return count;
}

namespace {

// poll on one descriptor, and on `abortFd` unless it is -1, with a deadline
// that survives EINTR.
int PollOne(TNetSocket s, short events, int ms, int abortFd) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
  pollfd fds[2] = {{s, events, 0}, {abortFd, POLLIN, 0}};
  const nfds_t count = abortFd >= 0 ? 2 : 1;
  while (true) {
    int timeout = -1;
    if (ms != kInfiniteWait) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      timeout = left.count() < 0 ? 0 : static_cast<int>(left.count());
    }
    int n = ::poll(fds, count, timeout);
    if (n >= 0) {
      // A stop must not wait behind a socket that always has data.
      if (count == 2 && fds[1].revents != 0) return kWaitAborted;
      return fds[0].revents != 0 ? 1 : 0;
    }
    if (errno != EINTR) return Fail();
  }
}

}  // namespace

bool TNetStack::PollReadable(TNetSocket s, int ms) {
  return PollOne(s, POLLIN, ms, -1) == 1;
}

int TNetStack::PollWritable(TNetSocket s, int ms) {
  return PollOne(s, POLLOUT, ms, -1);
}

int TNetStack::WaitForSocket(TNetSocket s, bool forWriting, int ms, int abortFd) {
  return PollOne(s, forWriting ? POLLOUT : POLLIN, ms, abortFd);
}

bool TNetStack::CheckSocketResult(std::int64_t result, std::initializer_list<int> tolerated) {
  if (result != kSocketError) return false;
  int err = LastError();
  for (int t : tolerated)
    if (t == err) return true;
  ThrowSocketError(err);
}

void TNetStack::ThrowSocketError(int errorNumber) {
  throw ENetSocketError(errorNumber, SocketErrorMessage(errorNumber));
}

TNetSocket TNetStack::OpenSocketHandle(int type, int protocol, int family) {
  TNetSocket s = CreateSocket(type, protocol, family);
  if (s == kInvalidSocket) throw ENetInvalidSocket();
  return s;
}

bool TNetStack::IsDottedAddress(const std::string& text) {
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t dot = part < 3 ? text.find('.', start) : std::string::npos;
    if (part < 3 && dot == std::string::npos) return false;
    long v;
    if (!ParseNumber(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start), 255, v))
      return false;
    start = dot + 1;
  }
  return true;
}

int TNetStack::AddressFamily(const std::string& text) {
  if (IsDottedAddress(text)) return AF_INET;
  sockaddr_storage a;
  socklen_t len;
  return !text.empty() && MakeAddress(text, 0, AF_INET6, a, len) ? AF_INET6 : AF_UNSPEC;
}

std::vector<std::string> TNetStack::LookUpHostAddresses(const std::string& name) {
  std::string upper;
  for (char c : name) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (upper == "LOCALHOST") return {"127.0.0.1"};
  if (AddressFamily(name) != AF_UNSPEC) return {name};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
  if (rc != 0 || result == nullptr) {
    // Every way a name fails to resolve reads "Host not found."; only a failing
    // system call or memory keep their own numbers.
    int err = rc == EAI_SYSTEM ? ErrorFromErrno(errno) : rc == EAI_MEMORY ? 10055 : WSAHOST_NOT_FOUND;
    if (result) ::freeaddrinfo(result);
    SetLastError(err);
    ThrowSocketError(err);
  }
  // In the resolver's order (which weighs the families by the system's
  // preference), each address once.
  std::vector<std::string> addresses;
  for (addrinfo* p = result; p; p = p->ai_next) {
    if (p->ai_family != AF_INET && p->ai_family != AF_INET6) continue;
    sockaddr_storage a{};
    std::memcpy(&a, p->ai_addr, std::min<std::size_t>(p->ai_addrlen, sizeof a));
    std::string ip = AddressText(a);
    if (!ip.empty() && std::find(addresses.begin(), addresses.end(), ip) == addresses.end())
      addresses.push_back(std::move(ip));
  }
  ::freeaddrinfo(result);
  if (addresses.empty()) {
    SetLastError(WSAHOST_NOT_FOUND);
    ThrowSocketError(WSAHOST_NOT_FOUND);
  }
  return addresses;
}

std::string TNetStack::LookUpHostAddress(const std::string& name) {
  return LookUpHostAddresses(name).front();
}

std::string TNetStack::HostName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) {
    Fail();
    ThrowSocketError(LastError());
  }
  return buf;
}

const base::TStringList& TNetStack::LocalAddresses() {
  localAddresses_.Clear();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (::getaddrinfo(HostName().c_str(), nullptr, &hints, &result) != 0) {
    SetLastError(WSAHOST_NOT_FOUND);
    ThrowSocketError(WSAHOST_NOT_FOUND);
  }
  for (addrinfo* p = result; p; p = p->ai_next)
    localAddresses_.Add(AddressToText(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr));
  ::freeaddrinfo(result);
  return localAddresses_;
}

std::string TNetStack::LocalAddress() {
  const auto& list = LocalAddresses();
  return list.Count() > 0 ? list[0] : std::string();
}

std::string TNetStack::HostByAddress(const std::string& ip) {
  sockaddr_storage a;
  socklen_t len;
  char host[NI_MAXHOST] = {};
  if (ip.empty() || !MakeAddress(ip, 0, AF_INET, a, len) ||
      ::getnameinfo(reinterpret_cast<sockaddr*>(&a), len, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
    return {};
  return host;
}

int TNetStack::ServicePort(const std::string& service) {
  servent result{}, *found = nullptr;
  char buf[1024];
  if (::getservbyname_r(service.c_str(), "tcp", &result, buf, sizeof buf, &found) == 0 && found)
    return ntohs(static_cast<std::uint16_t>(found->s_port));
  long v;
  if (ParseNumber(service, 65535, v)) return static_cast<int>(v);
  throw ENetInvalidServiceName(service);
}

std::string TNetStack::ServiceName(int port) {
  servent result{}, *found = nullptr;
  char buf[1024];
  if (::getservbyport_r(htons(static_cast<std::uint16_t>(port)), "tcp", &result, buf, sizeof buf,
                        &found) == 0 &&
      found)
    return found->s_name;
  return {};
}

std::uint16_t TNetStack::HToNS(std::uint16_t v) { return htons(v); }
std::uint16_t TNetStack::NToHS(std::uint16_t v) { return ntohs(v); }
std::uint32_t TNetStack::HToNL(std::uint32_t v) { return htonl(v); }
std::uint32_t TNetStack::NToHL(std::uint32_t v) { return ntohl(v); }

std::string TNetStack::AddressToText(std::uint32_t networkAddress) {
  std::uint32_t h = ntohl(networkAddress);
  return std::to_string(h >> 24) + "." + std::to_string((h >> 16) & 255) + "." +
         std::to_string((h >> 8) & 255) + "." + std::to_string(h & 255);
}

bool TNetStack::TextToAddress(const std::string& text, std::uint32_t& networkAddress) {
  if (!IsDottedAddress(text)) return false;
  std::uint32_t h = 0;
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t dot = part < 3 ? text.find('.', start) : text.size();
    long v = 0;
    ParseNumber(text.substr(start, dot - start), 255, v);
    h = (h << 8) | static_cast<std::uint32_t>(v);
    start = dot + 1;
  }
  networkAddress = htonl(h);
  return true;
}

}  // namespace krevo::ftp
