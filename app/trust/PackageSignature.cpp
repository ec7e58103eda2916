#include "app/trust/PackageSignature.h"

#include <cerrno>
#include <cstring>

#include "base/ControlEscape.h"
#include "base/Errors.h"

namespace krevo::app {
namespace {

using base::EscapeControlCharacters;

// The keys in `text`, separated by commas; the error names `setting`.
std::vector<base::TMinisignKey> ParseKeyList(std::string_view text, const std::string& setting) {
  std::vector<base::TMinisignKey> keys;
  try {
    for (;;) {
      const std::size_t comma = text.find(',');
      std::string_view one = text.substr(0, comma);
      while (!one.empty() && (one.front() == ' ' || one.front() == '\t')) one.remove_prefix(1);
      while (!one.empty() && (one.back() == ' ' || one.back() == '\t')) one.remove_suffix(1);
      try {
        keys.push_back(base::ParseMinisignKey(one));
      } catch (const base::ESignatureError& e) {
        if (keys.empty() && comma == std::string_view::npos) throw;
        throw base::ESignatureError("Key " + std::to_string(keys.size() + 1) + ": " + e.what());
      }
      if (comma == std::string_view::npos) return keys;
      text.remove_prefix(comma + 1);
    }
  } catch (const base::ESignatureError& e) {
    throw base::ESignatureError(setting + ": " + e.what());
  }
}

}  // namespace

std::vector<base::TMinisignKey> LoadPackageKeys(const TUpdaterConfig& config,
                                                const std::string& executableFolder) {
  if (!config.PublicKey.empty()) return ParseKeyList(config.PublicKey, "PublicKey in config.ini");
  if (!config.PublicKeyFile.empty()) {
    const std::string path = BesideExecutable(config.PublicKeyFile, executableFolder);
    const std::string setting = "PublicKeyFile " + EscapeControlCharacters(path);
    const auto text = base::ReadMinisignFile(path);
    if (!text) throw base::ESignatureError(setting + ": " + std::strerror(errno));
    try {
      return base::ParseMinisignKeys(*text);
    } catch (const base::ESignatureError& e) {
      throw base::ESignatureError(setting + ": " + e.what());
    }
  }
  const std::string builtIn = DefaultPublicKey();
  if (!builtIn.empty()) return ParseKeyList(builtIn, "The compiled-in public key");
  // An index cannot be checked without a key, and a run that was told to
  // insist on one must not install unchecked packages instead.
  if (config.RequireIndex)
    throw base::ESignatureError(
        "RequireIndex=yes in config.ini needs a public key (PublicKey or PublicKeyFile) to check "
        "the package index with");
  return {};
}

TPackageSignature FetchPackageSignature(TPackageSource& source,
                                        std::span<const base::TMinisignKey> keys,
                                        const std::string& name, int packageFd,
                                        const base::TBlake2b512::Digest* digest) {
  const std::string signatureName = name + ".minisig";
  TSmallFile signature;
  try {
    signature = source.FetchSmallFile(signatureName, base::kMaxSignatureFileSize);
  } catch (const ESmallFileRefused& e) {
    return {TPackageSignatureStatus::psBadSignature, e.what()};
  }
  if (!signature.present)
    return {TPackageSignatureStatus::psNotSigned,
            "the server has no " + signatureName + ": " + signature.content};
  const base::TSignatureCheck check =
      base::VerifyMinisign(keys, signature.content, name, packageFd, digest);
  if (check.verdict == base::TSignatureVerdict::svValid)
    return {TPackageSignatureStatus::psValid, {}};
  return {TPackageSignatureStatus::psBadSignature, EscapeControlCharacters(check.reason)};
}

}  // namespace krevo::app
