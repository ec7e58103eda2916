#pragma once
// Ed25519 signatures in the minisign format: the public key, the signature
// file (NAME.minisig) and the verdict on a package.
//
// A public key is the base64 of "Ed", an 8-byte key id and the 32-byte key.
// A signature file is four lines: "untrusted comment: ...", the base64 of the
// algorithm ("ED": the signature is over the BLAKE2b-512 digest of the file;
// "Ed", the legacy form: over the file itself), the key id and the 64-byte
// signature; "trusted comment: TEXT"; and the base64 of the global signature,
// made over the 64 signature bytes followed by TEXT. Lines end in LF or CR LF.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Blake2b512.h"

namespace krevo::base {

// The largest signature file read; minisign's own stay below 1 KiB unless the
// trusted comment is long.
constexpr std::size_t kMaxSignatureFileSize = 4096;

struct TMinisignKey {
  std::array<std::uint8_t, 8> keyId{};
  std::array<std::uint8_t, 32> key{};
};

struct TMinisignSignature {
  bool prehashed = true;  // "ED"; false for the legacy "Ed"
  std::array<std::uint8_t, 8> keyId{};
  std::array<std::uint8_t, 64> signature{};
  std::string trustedComment;  // the text after "trusted comment: "
  std::array<std::uint8_t, 64> globalSignature{};
};

// The content of the key or signature file at `path`, at most
// kMaxSignatureFileSize + 1 bytes: one byte more than the readers below
// accept, so that a longer file is refused as too long. Nothing when the file
// cannot be opened or read, errno saying why. Never throws but std::bad_alloc.
std::optional<std::string> ReadMinisignFile(const std::string& path);

// Reads a public key: the base64 line alone or a whole .pub file (an
// "untrusted comment: " line, then the base64 line), with or without a final
// line end. Throws ESignatureError, its message saying what is wrong.
TMinisignKey ParseMinisignKey(std::string_view text);

// Reads one or more public keys, one after the other: each a base64 line,
// alone or after its "untrusted comment: " line (a key file, or several such
// files joined); empty lines between them are passed over. At most
// kMaxSignatureFileSize bytes. Throws ESignatureError, its message naming the
// key (counted from 1) and what is wrong, when there is no key or one is
// malformed.
std::vector<TMinisignKey> ParseMinisignKeys(std::string_view text);

// Reads a signature file of at most kMaxSignatureFileSize bytes. Returns
// nothing when it is malformed, with `why` (if given) set to the reason.
// Never throws but std::bad_alloc.
std::optional<TMinisignSignature> ParseMinisignSignature(std::string_view text,
                                                         std::string* why = nullptr);

enum class TSignatureVerdict {
  svValid,
  svMalformed,          // the signature file cannot be read as one
  svWrongKey,           // made with another key (its key id differs)
  svBadSignature,       // the file is not what was signed
  svBadTrustedComment,  // the trusted comment is not what was signed
  svOtherFile,          // validly signed, but under another file name
};

struct TSignatureCheck {
  TSignatureVerdict verdict = TSignatureVerdict::svMalformed;
  std::string reason;  // one sentence, for the user; empty when valid
};

// Whether `signatureFile` is `key`'s valid signature of the file held by
// `fd`, signed under the name `fileName` (its trusted comment holds the
// tab-separated field "file:NAME"). The file is read from offset 0 to its end
// once, by pread or mmap, never by name; `fd` is borrowed, and the file must
// not shrink meanwhile (a legacy signature maps it: verify a private copy, as
// the updater's staging folder holds). A caller that hashed the file while
// receiving it passes its BLAKE2b-512 digest in `digest`; it is used for "ED"
// signatures instead of reading the file (a legacy "Ed" signature always reads
// the file). The checks run in order: key id, signature, global signature,
// file name; the first failure is returned. Throws EReadError when the file
// cannot be read, ESignatureError when the crypto library fails.
TSignatureCheck VerifyMinisign(const TMinisignKey& key, std::string_view signatureFile,
                               std::string_view fileName, int fd,
                               const TBlake2b512::Digest* digest = nullptr);
// The same with several trusted keys: valid when one of `keys` made it. The
// keys whose id is the signature's are tried in turn (the file is read at
// most once); svWrongKey when none has it, else the first key's failure.
TSignatureCheck VerifyMinisign(std::span<const TMinisignKey> keys, std::string_view signatureFile,
                               std::string_view fileName, int fd,
                               const TBlake2b512::Digest* digest = nullptr);
// The same over `bytes` in memory (borrowed), for a small file received
// whole: nothing is read from disk.
TSignatureCheck VerifyMinisignBytes(std::span<const TMinisignKey> keys,
                                    std::string_view signatureFile, std::string_view fileName,
                                    std::span<const std::uint8_t> bytes);

}  // namespace krevo::base
