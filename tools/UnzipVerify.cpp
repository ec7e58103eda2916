#include "tools/UnzipVerify.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <vector>

#include "base/ControlEscape.h"
#include "base/Errors.h"
#include "base/FileDescriptor.h"
#include "base/Minisign.h"
#include "base/Paths.h"

namespace krevo::tools {
namespace {

using base::EscapeControlCharacters;

// The key from its base64 line or, failing that, the keys of the file it
// names (one or several, as the updater reads PublicKeyFile).
std::vector<base::TMinisignKey> LoadKeys(const std::string& key) {
  try {
    return {base::ParseMinisignKey(key)};
  } catch (const base::ESignatureError&) {
    const auto text = base::ReadMinisignFile(key);
    if (!text)
      throw base::ESignatureError("The public key is neither a key line nor a readable file: " +
                                  EscapeControlCharacters(key));
    return base::ParseMinisignKeys(*text);
  }
}

}  // namespace

int VerifyPackage(const std::string& key, const std::string& signaturePath,
                  const std::string& archivePath, std::ostream& out, std::ostream& err) {
  const std::string shown = EscapeControlCharacters(archivePath);
  std::vector<base::TMinisignKey> publicKeys;
  try {
    publicKeys = LoadKeys(key);
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
  const auto signature = base::ReadMinisignFile(signaturePath);
  if (!signature) {
    err << "krevo-unzip: " << shown << ": not signed: cannot read "
        << EscapeControlCharacters(signaturePath) << ": " << std::strerror(errno) << '\n';
    return 1;
  }
  try {
    const base::TSignatureCheck check = base::VerifyMinisign(
        publicKeys, *signature, base::ExtractFileName(archivePath), file.get());
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
