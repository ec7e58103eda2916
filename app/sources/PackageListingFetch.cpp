#include "app/sources/PackageListingFetch.h"

#include "app/sources/PackageListing.h"
#include "ftp/NetExceptions.h"

namespace krevo::app {

void FetchPackageListing(ftp::TNetFTP& ftp, base::TStringList& lines) {
  try {
    ftp.FetchListing(&lines, "up*.zip", true);
    if (lines.Count() > 0) return;
  } catch (const ftp::ENetProtocolReplyError& e) {
    // A server that takes the pattern for a file name finds no such file.
    if (e.ReplyCode != 550) throw;
  }
  base::TStringList folder;
  ftp.FetchListing(&folder, "", true);
  lines.Clear();
  // The whole folder came back: the names are held to the pattern here.
  for (const std::string& line : folder.Lines())
    if (ReadListingLine(line)) lines.Add(line);
}

}  // namespace krevo::app
