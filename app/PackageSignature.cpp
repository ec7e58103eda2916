#include "app/PackageSignature.h"

#include <cerrno>
#include <cstring>

#include "app/BoundedMemoryStream.h"
#include "base/ControlEscape.h"
#include "base/Errors.h"
#include "ftp/NetExceptions.h"

namespace krevo::app {
namespace {

using base::EscapeControlCharacters;

// The key from `text`, its error naming `setting`.
base::TMinisignKey ParseKey(std::string_view text, const std::string& setting) {
  try {
    return base::ParseMinisignKey(text);
  } catch (const base::ESignatureError& e) {
    throw base::ESignatureError(setting + ": " + e.what());
  }
}

}  // namespace

std::optional<base::TMinisignKey> LoadPackageKey(const TUpdaterConfig& config,
                                                 const std::string& executableFolder) {
  if (!config.PublicKey.empty()) return ParseKey(config.PublicKey, "PublicKey in config.ini");
  if (!config.PublicKeyFile.empty()) {
    const std::string path = BesideExecutable(config.PublicKeyFile, executableFolder);
    const std::string setting = "PublicKeyFile " + EscapeControlCharacters(path);
    const auto text = base::ReadMinisignFile(path);
    if (!text) throw base::ESignatureError(setting + ": " + std::strerror(errno));
    return ParseKey(*text, setting);
  }
  const std::string builtIn = DefaultPublicKey();
  if (!builtIn.empty()) return ParseKey(builtIn, "The compiled-in public key");
  return std::nullopt;
}

TPackageSignature FetchPackageSignature(ftp::TNetFTP& ftp, const base::TMinisignKey& key,
                                        const std::string& name, int packageFd,
                                        const base::TBlake2b512::Digest* digest) {
  const std::string signatureName = name + ".minisig";
  // A longer file is cut off at the limit and refused, without buffering what
  // the server would go on sending; the memory stream holds no more either.
  TBoundedMemoryStream signature(static_cast<std::int64_t>(base::kMaxSignatureFileSize));
  try {
    ftp.RetrieveIntoStream(signatureName, signature, false,
                           static_cast<std::int64_t>(base::kMaxSignatureFileSize));
  } catch (const ftp::ENetProtocolReplyError& e) {
    // The reply's text comes from the server.
    const std::string reply = EscapeControlCharacters(e.what());
    if (e.ReplyCode == 550)
      return {TPackageSignatureStatus::psNotSigned,
              "the server has no " + signatureName + ": " + reply};
    return {TPackageSignatureStatus::psBadSignature,
            signatureName + " could not be received: " + reply};
  } catch (const ftp::ENetTransferTooLong&) {
    // The transfer was stopped at the limit, the session brought back in step.
    return {TPackageSignatureStatus::psBadSignature,
            signatureName + " is larger than " + std::to_string(base::kMaxSignatureFileSize) +
                " bytes"};
  }
  const base::TSignatureCheck check =
      base::VerifyMinisign(key, signature.AsString(), name, packageFd, digest);
  if (check.verdict == base::TSignatureVerdict::svValid)
    return {TPackageSignatureStatus::psValid, {}};
  return {TPackageSignatureStatus::psBadSignature, EscapeControlCharacters(check.reason)};
}

}  // namespace krevo::app
