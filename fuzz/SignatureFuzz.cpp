// The public-key and signature-file readers, and the verification behind
// them, on arbitrary text. The input is the text of one public key or
// several, a NUL, then a signature file's text (without a NUL, the whole
// input is tried as both); the signed file is "signed\n" under the name
// up200101.zip, so a seed made with a real key verifies and its mutations
// reach every verdict.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "base/Errors.h"
#include "base/Minisign.h"

namespace {

int SignedFile() {
  static const int fd = [] {
    const int f = ::memfd_create("signed", MFD_CLOEXEC);
    if (f < 0 || ::write(f, "signed\n", 7) != 7) std::abort();
    return f;
  }();
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace krevo::base;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view keyText = input.substr(0, nul);
  const std::string_view sigText = nul == std::string_view::npos ? input : input.substr(nul + 1);

  const auto signature = ParseMinisignSignature(sigText);
  if (signature && signature->trustedComment.size() > sigText.size()) std::abort();
  std::vector<TMinisignKey> keys;
  try {
    keys = ParseMinisignKeys(keyText);
  } catch (const ESignatureError&) {
    return 0;
  }
  if (keys.empty()) std::abort();
  const TSignatureCheck check = VerifyMinisign(keys, sigText, "up200101.zip", SignedFile());
  if ((check.verdict == TSignatureVerdict::svValid) != check.reason.empty()) std::abort();
  if (check.verdict != TSignatureVerdict::svMalformed && !signature) std::abort();
  // The file read from disk and the same bytes held in memory get one verdict.
  static const std::uint8_t kSigned[] = {'s', 'i', 'g', 'n', 'e', 'd', '\n'};
  if (VerifyMinisignBytes(keys, sigText, "up200101.zip", kSigned).verdict != check.verdict)
    std::abort();
  return 0;
}
