#include "ftp/NetTLSIOHandler.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <chrono>

#include "ftp/NetExceptions.h"
#include "ftp/NetStack.h"

namespace krevo::ftp {
namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The deadline `ms` from now (steady clock ms); -1 for kInfiniteWait.
std::int64_t DeadlineIn(int ms) {
  return ms == kInfiniteWait ? -1 : NowMs() + ms;
}

// The socket under TLS is reached through the stack like every other socket:
// its sends never raise SIGPIPE, and its error numbers are the stack's.
int BioWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  TNetStack& stack = TNetComponent::Stack();
  const std::int64_t n =
      stack.Send(static_cast<TNetSocket>(BIO_get_fd(bio, nullptr)), data, length);
  if (n < 0 && stack.LastError() == WSAEWOULDBLOCK) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int length) {
  BIO_clear_retry_flags(bio);
  TNetStack& stack = TNetComponent::Stack();
  const std::int64_t n =
      stack.Recv(static_cast<TNetSocket>(BIO_get_fd(bio, nullptr)), data, length);
  if (n < 0 && stack.LastError() == WSAEWOULDBLOCK) BIO_set_retry_read(bio);
  return static_cast<int>(n);
}

long BioCtrl(BIO* bio, int command, long number, void* pointer) {
  switch (command) {
    case BIO_C_SET_FD:
      BIO_set_data(
          bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(*static_cast<int*>(pointer))));
      BIO_set_init(bio, 1);
      (void)number;
      return 1;
    case BIO_C_GET_FD:
      return static_cast<long>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
    case BIO_CTRL_FLUSH:
      return 1;
    default:
      return 0;
  }
}

struct BioMethodFree {
  void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};

BIO* NewStackBio(TNetSocket socket) {
  static const std::unique_ptr<BIO_METHOD, BioMethodFree> method = [] {
    std::unique_ptr<BIO_METHOD, BioMethodFree> m(BIO_meth_new(
        BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "krevo socket"));
    if (m) {
      BIO_meth_set_write(m.get(), BioWrite);
      BIO_meth_set_read(m.get(), BioRead);
      BIO_meth_set_ctrl(m.get(), BioCtrl);
    }
    return m;
  }();
  if (!method) return nullptr;
  BIO* bio = BIO_new(method.get());
  if (bio) BIO_set_fd(bio, socket, BIO_NOCLOSE);
  return bio;
}

bool IsAddressLiteral(const std::string& host) {
  return TNetStack::IsDottedAddress(host) || host.find(':') != std::string::npos;
}

// The identity the certificate must prove: an address without its zone
// ("fe80::1%eth0" names the interface to reach it by, which no certificate
// holds), else the name the user asked for, not whatever the server's address
// resolves back to. False when it cannot be set, and then nothing would be
// checked: an empty host, a NUL byte (a C string would cut it short), a text
// OpenSSL does not parse.
bool ExpectIdentity(SSL* ssl, const std::string& host, bool literal) {
  if (host.empty() || host.find('\0') != std::string::npos) return false;
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  if (!param) return false;
  if (literal) {
    const std::string address =
        host.find(':') != std::string::npos ? host.substr(0, host.find('%')) : host;
    return X509_VERIFY_PARAM_set1_ip_asc(param, address.c_str()) == 1;
  }
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  return X509_VERIFY_PARAM_set1_host(param, host.data(), host.size()) == 1;
}

// `text` with control bytes shown as '?', for a message.
std::string Printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return text;
}

// OpenSSL's reason for the oldest queued error, without the code numbers.
std::string TakeReason() {
  const unsigned long code = ERR_peek_error();
  const char* reason = code ? ERR_reason_error_string(code) : nullptr;
  std::string text = reason ? std::string(reason) : TakeTLSErrorText();
  ERR_clear_error();
  return text.empty() ? "unknown failure" : text;
}

}  // namespace

TNetTLSIOHandler::~TNetTLSIOHandler() {
  Close();
}

void TNetTLSIOHandler::StartTLS(TNetTLSContext& context, const std::string& host, int timeout) {
  TNetSocketHandle* socket = Binding();
  if (!socket || !socket->HandleAllocated()) throw ENetNotConnected();
  timeout_ = timeout;
  fatal_ = peerClosed_ = false;
  pending_ = nullptr;
  pendingSocketError_ = 0;
  const int fd = socket->Handle();
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  ERR_clear_error();
  ssl_.reset(SSL_new(context.Handle()));
  BIO* bio = ssl_ ? NewStackBio(fd) : nullptr;
  if (!bio) {
    ssl_.reset();
    throw ENetTLSError(NetMessage(TNetMessage::TLSError, {TakeReason()}));
  }
  SSL_set_bio(ssl_.get(), bio, bio);
  const bool literal = IsAddressLiteral(host);
  if (context.VerifyPeer() && !ExpectIdentity(ssl_.get(), host, literal)) {
    ssl_.reset();
    ERR_clear_error();
    throw ENetTLSError(NetMessage(TNetMessage::TLSIdentity, {Printable(host)}));
  }
  if (!literal && !host.empty() && SSL_set_tlsext_host_name(ssl_.get(), host.c_str()) != 1) {
    const std::string reason = TakeReason();
    ssl_.reset();
    throw ENetTLSError(NetMessage(TNetMessage::TLSError, {reason}));
  }
  if (context.Session()) SSL_set_session(ssl_.get(), context.Session());
  const std::int64_t deadline = DeadlineIn(timeout);
  while (true) {
    ERR_clear_error();
    // A number left by the connect ("in progress") would be taken for the
    // handshake's own failure.
    Stack().SetLastError(0);
    const int rc = SSL_connect(ssl_.get());
    if (rc == 1) return;
    const int error = SSL_get_error(ssl_.get(), rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      WaitForTLSOrTimeOut(error, deadline);
      continue;
    }
    Failure(error, true);
  }
}

std::string TNetTLSIOHandler::Description() const {
  if (!ssl_) return {};
  return std::string(SSL_get_version(ssl_.get())) + ", " + SSL_get_cipher_name(ssl_.get());
}

bool TNetTLSIOHandler::SessionReused() const {
  return ssl_ && SSL_session_reused(ssl_.get()) == 1;
}

bool TNetTLSIOHandler::WaitForTLS(int sslError, std::int64_t deadline) {
  int ms = kInfiniteWait;
  if (deadline >= 0) {
    const std::int64_t left = deadline - NowMs();
    ms = left > 0 ? static_cast<int>(left) : 0;
  }
  TNetStack& stack = Stack();
  const int ready = stack.WaitForSocket(Binding()->Handle(), sslError == SSL_ERROR_WANT_WRITE, ms,
                                        AbortDescriptor);
  if (ready == kWaitAborted) {
    fatal_ = true;
    throw ENetOperationAborted();
  }
  if (ready < 0) {
    fatal_ = true;
    stack.ThrowSocketError(stack.LastError());
  }
  return ready > 0;
}

void TNetTLSIOHandler::WaitForTLSOrTimeOut(int sslError, std::int64_t deadline) {
  if (WaitForTLS(sslError, deadline)) return;
  fatal_ = true;
  throw ENetReadTimeout();
}

std::int64_t TNetTLSIOHandler::Failure(int sslError, bool handshake) {
  TNetStack& stack = Stack();
  if (sslError == SSL_ERROR_ZERO_RETURN && !handshake) {
    SendClose();
    peerClosed_ = true;
    return 0;
  }
  fatal_ = true;
  const unsigned long queued = ERR_peek_error();
  if (sslError == SSL_ERROR_SYSCALL && queued == 0) {
    const int err = stack.LastError();
    if (err != 0 && err != WSAEWOULDBLOCK) {
      if (handshake) stack.ThrowSocketError(err);
      return -1;
    }
  }
  const bool bareClose = sslError == SSL_ERROR_ZERO_RETURN || sslError == SSL_ERROR_SYSCALL ||
                         ERR_GET_REASON(queued) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
  if (bareClose) {
    ERR_clear_error();
    // A server that drops the connection during the handshake looks like any
    // other dropped connection.
    if (handshake) stack.ThrowSocketError(WSAECONNRESET);
    if (RequireTLSClose)
      throw ENetTLSError(NetMessage(TNetMessage::TLSError, {"unexpected eof while reading"}));
    peerClosed_ = true;
    return 0;
  }
  if (handshake) {
    const long verify = SSL_get_verify_result(ssl_.get());
    if (verify != X509_V_OK) {
      ERR_clear_error();
      throw ENetTLSCertificateError(verify, X509_verify_cert_error_string(verify));
    }
  }
  throw ENetTLSError(NetMessage(TNetMessage::TLSError, {TakeReason()}));
}

void TNetTLSIOHandler::DeferFailure(int sslError) {
  try {
    if (Failure(sslError, false) < 0) pendingSocketError_ = Stack().LastError();
  } catch (...) {
    pending_ = std::current_exception();
  }
}

void TNetTLSIOHandler::SendClose() {
  // One try, no waiting: the close is a courtesy the transfer's result does
  // not depend on, and the socket is closed right after.
  if (!ssl_ || fatal_) return;
  ERR_clear_error();
  SSL_shutdown(ssl_.get());
  ERR_clear_error();
}

void TNetTLSIOHandler::Close() {
  if (ssl_) {
    SendClose();
    ssl_.reset();
  }
  TNetIOHandlerSocket::Close();
}

bool TNetTLSIOHandler::Readable(int ms) {
  if (!ssl_) return TNetIOHandlerSocket::Readable(ms);
  if (!Binding()) throw ENetConnClosedGracefully();
  // A stop must win even while the data never runs dry.
  if (AbortDescriptor >= 0 &&
      Stack().WaitForSocket(Binding()->Handle(), false, 0, AbortDescriptor) == kWaitAborted)
    throw ENetOperationAborted();
  if (pending_ || pendingSocketError_ != 0 || peerClosed_ || fatal_) return true;
  const std::int64_t deadline = DeadlineIn(ms);
  while (true) {
    if (SSL_pending(ssl_.get()) > 0) return true;
    char byte;
    std::size_t n = 0;
    ERR_clear_error();
    Stack().SetLastError(0);
    const int rc = SSL_peek_ex(ssl_.get(), &byte, 1, &n);
    if (rc == 1) return true;
    const int error = SSL_get_error(ssl_.get(), rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (!WaitForTLS(error, deadline)) return false;
      continue;
    }
    // Kept for Recv, which reports it where the connection expects it.
    DeferFailure(error);
    return true;
  }
}

std::int64_t TNetTLSIOHandler::Recv(void* buffer, std::int64_t length) {
  if (!ssl_) return TNetIOHandlerSocket::Recv(buffer, length);
  if (pending_) {
    std::exception_ptr failure = pending_;
    pending_ = nullptr;
    std::rethrow_exception(failure);
  }
  if (pendingSocketError_ != 0) {
    Stack().SetLastError(pendingSocketError_);
    pendingSocketError_ = 0;
    return -1;
  }
  if (peerClosed_) return 0;
  if (fatal_) {
    Stack().SetLastError(WSAECONNABORTED);
    return -1;
  }
  auto* bytes = static_cast<char*>(buffer);
  const auto want = static_cast<std::size_t>(length);
  std::size_t total = 0;
  // As much as the buffer takes without waiting: a receive that stopped at
  // every 16 KiB record would double the calls per byte.
  while (total < want) {
    std::size_t n = 0;
    ERR_clear_error();
    Stack().SetLastError(0);
    const int rc = SSL_read_ex(ssl_.get(), bytes + total, want - total, &n);
    if (rc == 1) {
      total += n;
      continue;
    }
    const int error = SSL_get_error(ssl_.get(), rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (total > 0) break;
      WaitForTLS(error, -1);
      continue;
    }
    if (total == 0) return Failure(error, false);
    DeferFailure(error);
    break;
  }
  return static_cast<std::int64_t>(total);
}

std::int64_t TNetTLSIOHandler::Send(const void* buffer, std::int64_t length) {
  if (!ssl_) return TNetIOHandlerSocket::Send(buffer, length);
  if (fatal_ || peerClosed_) {
    Stack().SetLastError(WSAESHUTDOWN);
    return -1;
  }
  const auto* bytes = static_cast<const char*>(buffer);
  const auto want = static_cast<std::size_t>(length);
  const std::int64_t deadline = DeadlineIn(timeout_);
  std::size_t done = 0;
  while (done < want) {
    std::size_t n = 0;
    ERR_clear_error();
    Stack().SetLastError(0);
    const int rc = SSL_write_ex(ssl_.get(), bytes + done, want - done, &n);
    if (rc == 1) {
      done += n;
      continue;
    }
    const int error = SSL_get_error(ssl_.get(), rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      WaitForTLSOrTimeOut(error, deadline);
      continue;
    }
    return Failure(error, false);
  }
  return static_cast<std::int64_t>(done);
}

}  // namespace krevo::ftp
