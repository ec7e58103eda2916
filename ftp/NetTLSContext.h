#pragma once
// TNetTLSContext: the TLS settings one FTP session shares between its control
// connection and its data connections: the trust anchors, whether the
// server's certificate is checked, and the newest TLS session the server
// handed out, which every data connection resumes.
#include <openssl/ssl.h>

#include <string>

#include "ftp/NetTLSOwners.h"

namespace krevo::ftp {

class TNetTLSContext final {
 public:
  // `caFile` empty: the system's trust store; else only the certificates in
  // that PEM file. `verifyPeer` false: the certificate is not checked at all
  // (for tests against a server without a real certificate). TLS 1.2 at least.
  // Throws ENetTLSError when OpenSSL cannot set up, or the file cannot be
  // loaded.
  TNetTLSContext(const std::string& caFile, bool verifyPeer);
  TNetTLSContext(const TNetTLSContext&) = delete;
  TNetTLSContext& operator=(const TNetTLSContext&) = delete;

  // Borrowed; lives as long as this object.
  SSL_CTX* Handle() const { return ctx_.get(); }
  bool VerifyPeer() const { return verifyPeer_; }
  // The newest session any connection of this context received (null before
  // the first); borrowed, replaced when a newer one arrives.
  SSL_SESSION* Session() const { return session_.get(); }

 private:
  static int OnNewSession(SSL* ssl, SSL_SESSION* session);

  UniqueSslCtx ctx_;
  UniqueSslSession session_;
  bool verifyPeer_;
};

// OpenSSL's text for the oldest error in this thread's queue (empty when the
// queue is empty); the queue is emptied.
std::string TakeTLSErrorText();

}  // namespace krevo::ftp
