#include "ftp/NetUnreachable.h"

#include <algorithm>
#include <array>

#include "ftp/NetExceptions.h"
#include "ftp/NetStack.h"

namespace krevo::ftp {
namespace {

// The socket errors of a server that is not there: no route, no host, no
// listener, no answer, or a connection cut before it said anything.
constexpr std::array<int, 11> kUnreachableErrors{
    WSAHOST_NOT_FOUND, WSAECONNREFUSED, WSAETIMEDOUT, WSAENETUNREACH,
    WSAEHOSTUNREACH,   WSAENETDOWN,     WSAEHOSTDOWN, WSAEADDRNOTAVAIL,
    WSAECONNRESET,     WSAECONNABORTED, WSAESHUTDOWN,
};

}  // namespace

bool IsUnreachable(const std::exception& failure, bool reachedLogin) {
  if (reachedLogin) return false;
  if (const auto* socket = dynamic_cast<const ENetSocketError*>(&failure))
    return std::find(kUnreachableErrors.begin(), kUnreachableErrors.end(), socket->ErrorNumber) !=
           kUnreachableErrors.end();
  return dynamic_cast<const ENetConnectException*>(&failure) ||
         dynamic_cast<const ENetConnectTimeout*>(&failure) ||
         dynamic_cast<const ENetReadTimeout*>(&failure) ||
         dynamic_cast<const ENetConnClosedGracefully*>(&failure);
}

}  // namespace krevo::ftp
