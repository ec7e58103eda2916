#pragma once
// Small files that other programs read while the updater may be killed at
// any moment: replaced whole or not at all, and read back within a bound.
// Both work relative to a folder's descriptor and never follow a link that
// someone planted under the file's name.
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/Errors.h"

namespace krevo::base {

// A status or metrics file that could not be written; the message names the
// file and the reason.
class EAtomicFileError final : public Exception {
 public:
  using Exception::Exception;
};

// Replaces `name` in the folder `folderFd` (borrowed) with `content`: written
// to a new hidden name beside it (created exclusively, never through a
// link), flushed, renamed over `name` and the folder flushed, so that a
// reader, a kill or a power cut sees the old file or the new one, never a
// part. The new file gets `mode`. `shownName` names the file in the error.
// Throws EAtomicFileError; the temporary file is removed then.
void ReplaceFileAtomically(int folderFd, const std::string& name, std::string_view content,
                           mode_t mode, const std::string& shownName);

// As ReplaceFileAtomically, for a file whose stale copy would mislead more
// than its absence (a status a reader would take for the last run's): when
// the new content cannot be put in place, the old `name` is removed as well.
// Throws EAtomicFileError, whose message then also says whether an old file
// was removed or could not be.
void ReplaceOrRemoveFile(int folderFd, const std::string& name, std::string_view content,
                         mode_t mode, const std::string& shownName);

// Removes from `folderFd` (borrowed) the temporary files that a process
// killed while it replaced `name` (ReplaceFileAtomically) left behind: the
// regular files named ".krevo-" + `name` + "." + 12 lower-case hexadecimal
// digits, a pattern nothing else of the updater uses. Links, folders and
// other names are left alone. Returns how many were removed. Never throws
// but std::bad_alloc.
int RemoveReplaceLeftovers(int folderFd, const std::string& name);

// How a bounded read of a small file ended.
enum class TSmallRead {
  srRead,        // the whole file is in the content
  srAbsent,      // there is no such name (ENOENT)
  srOpenFailed,  // it could not be opened: a link, a permission, ... (errno in the error)
  srNotRegular,  // it is a folder, a FIFO, a device, ...
  srTooLarge,    // it holds more than the bound, or grew past it while it was read
  srReadFailed   // a read failed (errno in the error)
};
struct TSmallFileContent {
  TSmallRead status = TSmallRead::srAbsent;
  std::string content;  // with srRead
  int error = 0;        // errno with srOpenFailed and srReadFailed
};

// Reads the regular file `name` in `folderFd` (borrowed), at most `maxBytes`.
// Opened without following a link and without blocking on a planted FIFO;
// the status says why there is no content, and each caller decides what
// that means to it (the status file: unknown; the journal and the index
// state: an error). Never throws but std::bad_alloc.
TSmallFileContent ReadSmallFile(int folderFd, const std::string& name, std::size_t maxBytes);

}  // namespace krevo::base
