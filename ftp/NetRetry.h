#pragma once
// Retries of a transfer within one run: which failures are worth another
// try, how long to wait before it, and the wait itself. The updater and
// krevo-ftp resume a transfer that broke off where it stopped (REST), on a
// new data connection, and on a new session when the control connection is
// lost.
#include <exception>
#include <random>

namespace krevo::ftp {

// The updater's default number of retries of one package in a run.
inline constexpr int kDefaultRetries = 5;
// The most retries that may be asked for.
inline constexpr int kMaxRetries = 100;

// True when a transfer that failed with `failure` may go through if tried
// again: a connection that failed, was refused, reset, closed or timed out
// (ENetSocketError, ENetConnClosedGracefully, ENetClosedSocket,
// ENetNotConnected, ENetConnectException, ENetConnectTimeout), a time-out or
// a transfer below the floor (ENetReadTimeout, ENetTransferTooSlow), a TLS
// connection cut short (ENetTLSError, but not a refused certificate), or a
// transient reply (ENetProtocolReplyError with a 4xx code: 421, 425, 426,
// 450, 451). False for everything else: a permanent reply (5xx), a file
// longer than expected (ENetTransferTooLong), a stop (ENetOperationAborted),
// a refused certificate, a reply that makes no sense, a local file error.
bool IsTransientFailure(const std::exception& failure);

// The wait before retry `retry` (1 for the first), in milliseconds: about
// 1, 2, 4, 8, 16 seconds, doubling up to a minute, each drawn from 75% to
// 125% of that so that many clients cut off together do not come back
// together.
int RetryDelayMilliseconds(int retry, std::mt19937& random);

// Whether `stopFd` (borrowed; -1: none) is readable now: a stop was asked
// for.
bool StopSignalled(int stopFd);

// Waits `milliseconds`, or until `abortFd` (borrowed, -1: none) becomes
// readable. Returns false when the wait was cut short that way.
bool PauseBeforeRetry(int milliseconds, int abortFd);

}  // namespace krevo::ftp
