#include "app/trust/PackageIndexFetch.h"

#include "app/trust/PackageSignature.h"
#include "base/ControlEscape.h"

namespace krevo::app {

std::optional<TPackageIndex> FetchPackageIndex(TPackageSource& source,
                                               std::span<const base::TMinisignKey> keys) {
  const std::string signatureName = std::string(kIndexName) + ".minisig";
  TSmallFile index, signature;
  try {
    index = source.FetchSmallFile(kIndexName, kMaxIndexSize);
    if (!index.present) return std::nullopt;
    signature = source.FetchSmallFile(signatureName, base::kMaxSignatureFileSize);
  } catch (const ESmallFileRefused& e) {
    throw EIndexError(std::string("The package index was refused: ") + e.what() + ".");
  }
  if (!signature.present)
    throw EIndexError("The package index is not signed: the server has no " + signatureName + ": " +
                      signature.content + ".");
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(index.content.data());
  const base::TSignatureCheck check =
      base::VerifyMinisignBytes(keys, signature.content, kIndexName, {bytes, index.content.size()});
  if (check.verdict != base::TSignatureVerdict::svValid)
    throw EIndexError("The package index has a bad signature: " +
                      base::EscapeControlCharacters(check.reason) + ".");
  return ParsePackageIndex(index.content);
}

}  // namespace krevo::app
