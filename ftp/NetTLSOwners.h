#pragma once
// Owners of OpenSSL's TLS handles: each frees what it holds when destroyed.
// Move-only, null when empty.
#include <openssl/ssl.h>

#include <memory>

namespace krevo::ftp {

struct SslCtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct SslSessionFree {
  void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};

using UniqueSslCtx = std::unique_ptr<SSL_CTX, SslCtxFree>;
using UniqueSsl = std::unique_ptr<SSL, SslFree>;
using UniqueSslSession = std::unique_ptr<SSL_SESSION, SslSessionFree>;

}  // namespace krevo::ftp
