#pragma once
// krevo-unzip --verify-key: checks a package's minisign signature without
// opening the archive, as the updater checks it before installing.
#include <iosfwd>
#include <string>

namespace krevo::tools {

// Verifies the file `archivePath` (a package, or the package index) against
// the signature file `signaturePath` with `key`: a public key's base64 line,
// or the path of a .pub file holding one key or several (a signature by any
// of them verifies). The
// expected file name is the archive's base name. Writes one line: the
// verified trusted comment to `out`, or the reason for refusal to `err`
// (text from outside with its control characters escaped). Returns the exit
// status: 0 valid; 1 not signed, badly signed or unreadable; 2 the archive
// cannot be opened; 64 the key is malformed or cannot be read.
int VerifyPackage(const std::string& key, const std::string& signaturePath,
                  const std::string& archivePath, std::ostream& out, std::ostream& err);

}  // namespace krevo::tools
