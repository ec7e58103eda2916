#include "tools/UnzipVerify.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <ostream>

#include "base/ControlEscape.h"
#include "base/Errors.h"
#include "base/FileDescriptor.h"
#include "base/Minisign.h"

namespace krevo::tools {
namespace {

using base::EscapeControlCharacters;

// At most `limit` + 1 bytes of the file at `path`: one byte more than allowed
// is enough for the parsers to refuse it as too long. Empty on failure, with
// errno kept.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit) {
  base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  std::string text(limit + 1, '\0');
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

// The key from its base64 line or, failing that, from the file it names.
base::TMinisignKey LoadKey(const std::string& key) {
  try {
    return base::ParseMinisignKey(key);
  } catch (const base::ESignatureError&) {
    const auto text = ReadSmallFile(key, base::kMaxSignatureFileSize);
    if (!text) throw;
    return base::ParseMinisignKey(*text);
  }
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int VerifyPackage(const std::string& key, const std::string& signaturePath,
                  const std::string& archivePath, std::ostream& out, std::ostream& err) {
  const std::string shown = EscapeControlCharacters(archivePath);
  base::TMinisignKey publicKey;
  try {
    publicKey = LoadKey(key);
  } catch (const base::ESignatureError& e) {
    err << "krevo-unzip: " << e.what() << '\n';
    return 64;
  }
  base::UniqueFd file(::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    err << "krevo-unzip: " << shown
        << ": cannot open: " << (file ? "not a regular file" : std::strerror(errno)) << '\n';
    return 2;
  }
  const auto signature = ReadSmallFile(signaturePath, base::kMaxSignatureFileSize);
  if (!signature) {
    err << "krevo-unzip: " << shown << ": not signed: cannot read "
        << EscapeControlCharacters(signaturePath) << ": " << std::strerror(errno) << '\n';
    return 1;
  }
  try {
    const base::TSignatureCheck check =
        base::VerifyMinisign(publicKey, *signature, BaseName(archivePath), file.get());
    if (check.verdict != base::TSignatureVerdict::svValid) {
      err << "krevo-unzip: " << shown << ": bad signature: " << check.reason << '\n';
      return 1;
    }
    const auto parsed = base::ParseMinisignSignature(*signature);
    out << shown << ": signature verified; trusted comment: "
        << EscapeControlCharacters(parsed->trustedComment) << '\n';
    return 0;
  } catch (const base::Exception& e) {
    err << "krevo-unzip: " << shown << ": " << e.what() << '\n';
    return 1;
  }
}

}  // namespace krevo::tools
