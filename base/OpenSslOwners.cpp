#include "base/OpenSslOwners.h"

namespace krevo::base {

void EvpPkeyFree::operator()(EVP_PKEY* key) const {
  EVP_PKEY_free(key);
}

void EvpMdCtxFree::operator()(EVP_MD_CTX* ctx) const {
  EVP_MD_CTX_free(ctx);
}

}  // namespace krevo::base
