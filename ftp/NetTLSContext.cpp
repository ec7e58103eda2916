#include "ftp/NetTLSContext.h"

#include <openssl/err.h>

#include "ftp/NetExceptions.h"

namespace krevo::ftp {

std::string TakeTLSErrorText() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return {};
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

TNetTLSContext::TNetTLSContext(const std::string& caFile, bool verifyPeer)
    : verifyPeer_(verifyPeer) {
  ERR_clear_error();
  ctx_.reset(SSL_CTX_new(TLS_client_method()));
  if (!ctx_) throw ENetTLSError(NetMessage(TNetMessage::TLSError, {TakeTLSErrorText()}));
  SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx_.get(), verifyPeer ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  if (verifyPeer) {
    const bool loaded =
        caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx_.get()) == 1
                       : SSL_CTX_load_verify_locations(ctx_.get(), caFile.c_str(), nullptr) == 1;
    if (!loaded)
      throw ENetTLSError(
          NetMessage(TNetMessage::TLSTrustStore,
                     {caFile.empty() ? "system store" : caFile, TakeTLSErrorText()}));
  }
  // Sessions are kept here, not in OpenSSL's cache: with TLS 1.3 the server
  // sends its ticket after the handshake, and only the callback sees it.
  SSL_CTX_set_session_cache_mode(ctx_.get(),
                                 SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_set_app_data(ctx_.get(), this);
  SSL_CTX_sess_set_new_cb(ctx_.get(), &TNetTLSContext::OnNewSession);
}

int TNetTLSContext::OnNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* self = static_cast<TNetTLSContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (!self) return 0;
  self->session_.reset(session);
  return 1;  // the reference is ours now
}

}  // namespace krevo::ftp
