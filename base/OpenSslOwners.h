#pragma once
// Owners of OpenSSL handles: each frees what it holds when destroyed, so no
// path out of a verification (early return, exception) leaks a key or a
// digest context. Move-only, null when empty.
#include <openssl/evp.h>

#include <memory>

namespace krevo::base {

struct EvpPkeyFree {
  void operator()(EVP_PKEY* key) const;
};
struct EvpMdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const;
};

// An EVP_PKEY from EVP_PKEY_new_raw_public_key and the like.
using UniqueEvpPkey = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;
// An EVP_MD_CTX from EVP_MD_CTX_new.
using UniqueEvpMdCtx = std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree>;

}  // namespace krevo::base
