#include "base/Minisign.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <span>
#include <vector>

#include "base/Errors.h"
#include "base/FileDescriptor.h"
#include "base/OpenSslOwners.h"

namespace krevo::base {
namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

// What the user reads for each failed verdict.
constexpr struct {
  TSignatureVerdict verdict;
  const char* text;
} kVerdictTexts[] = {
    {TSignatureVerdict::svMalformed, "the signature file is malformed"},
    {TSignatureVerdict::svWrongKey, "it was made with another key"},
    {TSignatureVerdict::svBadSignature, "the file is not the one that was signed"},
    {TSignatureVerdict::svBadTrustedComment, "its trusted comment is not the one that was signed"},
    {TSignatureVerdict::svOtherFile, "it was made for another file name"},
};

TSignatureCheck Verdict(TSignatureVerdict verdict, std::string_view detail = {}) {
  TSignatureCheck check{verdict, {}};
  for (const auto& entry : kVerdictTexts)
    if (entry.verdict == verdict) check.reason = entry.text;
  if (!detail.empty()) check.reason.append(": ").append(detail);
  return check;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict base64 of exactly `size` bytes: the padded length, the alphabet,
// '=' only as padding, and unused bits zero, so that each byte string has
// one spelling only. minisign lets stray bits pass, but never writes them.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text, std::size_t size) {
  const std::size_t padding = (3 - size % 3) % 3;
  if (text.size() != (size + 2) / 3 * 4) return std::nullopt;
  for (std::size_t i = text.size() - padding; i < text.size(); ++i)
    if (text[i] != '=') return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(size);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text.substr(0, text.size() - padding)) {
    const int v = Base64Value(c);
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> count));
      bits &= (1u << count) - 1;
    }
  }
  if (bits != 0 || out.size() != size) return std::nullopt;
  return out;
}

// Splits `text` into lines ending in LF or CR LF (the last may lack its end).
// A NUL or a CR inside a line makes the text malformed: minisign reads its
// files as C strings, so such a line would mean one thing here and another
// to the tool that signed it.
std::optional<std::vector<std::string_view>> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos || line.find('\r') != std::string_view::npos)
      return std::nullopt;
    lines.push_back(line);
  }
  return lines;
}

UniqueEvpPkey PublicKeyOf(const std::array<std::uint8_t, 32>& key) {
  return UniqueEvpPkey(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
}

// Whether `signature` is valid for `message` under `key`. Ed25519 hashes the
// message itself, hence no digest in the context.
bool Ed25519Verifies(EVP_PKEY* key, const std::array<std::uint8_t, 64>& signature,
                     std::span<const std::uint8_t> message) {
  UniqueEvpMdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key) != 1) {
    ERR_clear_error();
    throw ESignatureError("The signature check cannot be set up");
  }
  // An empty message still needs a valid pointer.
  static const std::uint8_t kNothing = 0;
  const int rc = EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                                  message.empty() ? &kNothing : message.data(), message.size());
  // A failed check leaves its reason in the thread's error queue; nobody reads
  // it, and a later TLS call must not find it there.
  ERR_clear_error();
  return rc == 1;
}

// A read-only mapping of a whole descriptor, unmapped when destroyed.
class Mapping final {
 public:
  explicit Mapping(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0) throw EReadError();
    size_ = static_cast<std::size_t>(st.st_size);
    if (size_ == 0) return;
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) throw EReadError();
    data_ = static_cast<const std::uint8_t*>(p);
  }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
  }
  std::span<const std::uint8_t> Bytes() const { return {data_, data_ ? size_ : 0}; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

bool NamesFile(std::string_view comment, std::string_view fileName) {
  if (fileName.empty()) return false;
  const std::string wanted = "file:" + std::string(fileName);
  for (;;) {
    const std::size_t tab = comment.find('\t');
    if (comment.substr(0, tab) == wanted) return true;
    if (tab == std::string_view::npos) return false;
    comment.remove_prefix(tab + 1);
  }
}

template <typename Signs>
TSignatureCheck VerifyWithKey(const TMinisignKey& key, const TMinisignSignature& sig,
                              std::string_view fileName, Signs& signs) {
  const UniqueEvpPkey pkey = PublicKeyOf(key.key);
  if (!pkey) {
    ERR_clear_error();
    throw ESignatureError("The public key cannot be loaded");
  }
  if (!signs(pkey.get(), sig)) return Verdict(TSignatureVerdict::svBadSignature);
  std::vector<std::uint8_t> global(sig.signature.begin(), sig.signature.end());
  global.insert(global.end(), sig.trustedComment.begin(), sig.trustedComment.end());
  if (!Ed25519Verifies(pkey.get(), sig.globalSignature, global))
    return Verdict(TSignatureVerdict::svBadTrustedComment);
  if (!NamesFile(sig.trustedComment, fileName)) return Verdict(TSignatureVerdict::svOtherFile);
  return {TSignatureVerdict::svValid, {}};
}

// The checks in order (key id, signature, global signature, file name) with
// each of `keys` that has the signature's id; `signs` says whether the
// signature is valid for the file under a key.
template <typename Signs>
TSignatureCheck VerifyWithKeys(std::span<const TMinisignKey> keys, std::string_view signatureFile,
                               std::string_view fileName, Signs&& signs) {
  std::string why;
  const auto sig = ParseMinisignSignature(signatureFile, &why);
  if (!sig) return Verdict(TSignatureVerdict::svMalformed, why);
  std::optional<TSignatureCheck> first;
  for (const TMinisignKey& key : keys) {
    if (sig->keyId != key.keyId) continue;
    TSignatureCheck check = VerifyWithKey(key, *sig, fileName, signs);
    if (check.verdict == TSignatureVerdict::svValid) return check;
    if (!first) first = std::move(check);
  }
  return first ? *first : Verdict(TSignatureVerdict::svWrongKey);
}

[[noreturn]] void BadKey(const std::string& why) {
  throw ESignatureError("The public key is not a minisign public key: " + why);
}

}  // namespace

std::optional<std::string> ReadMinisignFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  std::string text(kMaxSignatureFileSize + 1, '\0');
  std::size_t have = 0;
  while (have < text.size()) {
    const ssize_t got = ::read(fd.get(), text.data() + have, text.size() - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  text.resize(have);
  return text;
}

TMinisignKey ParseMinisignKey(std::string_view text) {
  if (text.size() > kMaxSignatureFileSize) BadKey("it is too long");
  const auto lines = SplitLines(text);
  if (!lines) BadKey("it holds a NUL or a lone CR");
  if (lines->empty() || lines->size() > 2) BadKey("it is not one line or two");
  if (lines->size() == 2 && !(*lines)[0].starts_with(kUntrustedPrefix))
    BadKey("its first line is not an untrusted comment");
  const auto bytes = DecodeBase64(lines->back(), 42);
  if (!bytes) BadKey("its key line is not the base64 of 42 bytes");
  if ((*bytes)[0] != 'E' || (*bytes)[1] != 'd') BadKey("it is not an Ed25519 key");
  TMinisignKey key;
  std::copy(bytes->begin() + 2, bytes->begin() + 10, key.keyId.begin());
  std::copy(bytes->begin() + 10, bytes->end(), key.key.begin());
  if (!PublicKeyOf(key.key)) {
    ERR_clear_error();
    BadKey("the crypto library refuses it");
  }
  return key;
}

std::vector<TMinisignKey> ParseMinisignKeys(std::string_view text) {
  if (text.size() > kMaxSignatureFileSize) BadKey("it is too long");
  const auto lines = SplitLines(text);
  if (!lines) BadKey("it holds a NUL or a lone CR");
  std::vector<std::string> entries;
  for (std::size_t i = 0; i < lines->size(); ++i) {
    if ((*lines)[i].empty()) continue;
    entries.emplace_back((*lines)[i]);
    // A comment belongs to the key line after it.
    if ((*lines)[i].starts_with(kUntrustedPrefix) && i + 1 < lines->size())
      entries.back().append("\n").append((*lines)[++i]);
  }
  if (entries.empty()) BadKey("it holds no key");
  std::vector<TMinisignKey> keys;
  for (const std::string& entry : entries) {
    try {
      keys.push_back(ParseMinisignKey(entry));
    } catch (const ESignatureError& e) {
      if (entries.size() == 1) throw;
      throw ESignatureError("Key " + std::to_string(keys.size() + 1) + ": " + e.what());
    }
  }
  return keys;
}

std::optional<TMinisignSignature> ParseMinisignSignature(std::string_view text, std::string* why) {
  auto fail = [why](const char* reason) -> std::optional<TMinisignSignature> {
    if (why) *why = reason;
    return std::nullopt;
  };
  if (text.size() > kMaxSignatureFileSize) return fail("it is larger than 4 KiB");
  const auto lines = SplitLines(text);
  if (!lines) return fail("it holds a NUL or a lone CR");
  if (lines->size() != 4) return fail("it is not four lines");
  if (!(*lines)[0].starts_with(kUntrustedPrefix))
    return fail("its first line is not an untrusted comment");
  const auto sig = DecodeBase64((*lines)[1], 74);
  if (!sig) return fail("its signature line is not the base64 of 74 bytes");
  TMinisignSignature s;
  if ((*sig)[0] != 'E' || ((*sig)[1] != 'D' && (*sig)[1] != 'd'))
    return fail("its algorithm is neither ED nor Ed");
  s.prehashed = (*sig)[1] == 'D';
  std::copy(sig->begin() + 2, sig->begin() + 10, s.keyId.begin());
  std::copy(sig->begin() + 10, sig->end(), s.signature.begin());
  if (!(*lines)[2].starts_with(kTrustedPrefix))
    return fail("its third line is not a trusted comment");
  s.trustedComment = (*lines)[2].substr(kTrustedPrefix.size());
  const auto global = DecodeBase64((*lines)[3], 64);
  if (!global) return fail("its global signature is not the base64 of 64 bytes");
  std::copy(global->begin(), global->end(), s.globalSignature.begin());
  return s;
}

TSignatureCheck VerifyMinisign(const TMinisignKey& key, std::string_view signatureFile,
                               std::string_view fileName, int fd,
                               const TBlake2b512::Digest* digest) {
  return VerifyMinisign(std::span<const TMinisignKey>(&key, 1), signatureFile, fileName, fd,
                        digest);
}

TSignatureCheck VerifyMinisign(std::span<const TMinisignKey> keys, std::string_view signatureFile,
                               std::string_view fileName, int fd,
                               const TBlake2b512::Digest* digest) {
  std::optional<TBlake2b512::Digest> hash;
  if (digest) hash = *digest;
  std::optional<Mapping> file;
  return VerifyWithKeys(keys, signatureFile, fileName,
                        [&](EVP_PKEY* pkey, const TMinisignSignature& sig) {
                          if (sig.prehashed) {
                            if (!hash) hash = TBlake2b512::OfDescriptor(fd);
                            return Ed25519Verifies(pkey, sig.signature, *hash);
                          }
                          if (!file) file.emplace(fd);
                          return Ed25519Verifies(pkey, sig.signature, file->Bytes());
                        });
}

TSignatureCheck VerifyMinisignBytes(std::span<const TMinisignKey> keys,
                                    std::string_view signatureFile, std::string_view fileName,
                                    std::span<const std::uint8_t> bytes) {
  std::optional<TBlake2b512::Digest> hash;
  return VerifyWithKeys(keys, signatureFile, fileName,
                        [&](EVP_PKEY* pkey, const TMinisignSignature& sig) {
                          if (!sig.prehashed) return Ed25519Verifies(pkey, sig.signature, bytes);
                          if (!hash) {
                            TBlake2b512 h;
                            h.Update(bytes);
                            hash = h.Final();
                          }
                          return Ed25519Verifies(pkey, sig.signature, *hash);
                        });
}

}  // namespace krevo::base
