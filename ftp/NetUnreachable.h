#pragma once
// Whether a failure to open an FTP session means that the server could not
// be reached at all, as against a server that answered and refused.
#include <exception>

namespace krevo::ftp {

// True when `failure`, thrown by TNetFTP::OpenSession, means the server could
// not be reached: with `reachedLogin` false (TNetFTP::ReachedLogin), a
// connect that failed or timed out (ENetConnectException,
// ENetConnectTimeout), a host name that does not resolve, a network or host
// that cannot be reached, a connection refused, reset, aborted or timed out
// (ENetSocketError with those numbers), a greeting or TLS handshake that
// times out (ENetReadTimeout) or a server that closes before it
// (ENetConnClosedGracefully). False for everything else: any failure once
// the login began, a reply (ENetProtocolReplyError: a refused login, TLS
// refused), a TLS failure or a refused certificate (ENetTLSError family), a
// stop (ENetOperationAborted), any other error.
bool IsUnreachable(const std::exception& failure, bool reachedLogin);

}  // namespace krevo::ftp
