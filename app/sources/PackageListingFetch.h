#pragma once
// The listing step's request for the package lines, for servers that expand a
// wildcard in LIST and for those that do not.
#include "base/StringList.h"
#include "ftp/NetFTP.h"

namespace krevo::app {

// Replaces `lines` with the server's detailed listing of "up*.zip" in its
// current folder (`ftp` is borrowed and must be logged in). A server that
// refuses that listing with 550 or sends no line for it is asked once more,
// in the same session, for the plain LIST of the folder; `lines` then keeps
// only the lines that offer a package (ReadListingLine, which holds the name to
// "up*.zip" in any case), in the server's order. Throws what FetchListing
// throws: any other refusal, and any failure of the second listing.
void FetchPackageListing(ftp::TNetFTP& ftp, base::TStringList& lines);

}  // namespace krevo::app
