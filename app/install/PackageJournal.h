#pragma once
// The journal of one package's installation, a small text file in the root
// folder: which folders the package writes in and makes, which staged file
// takes which destination's place and where the file it replaces is kept,
// and how far the installation got. Each line is written whole before the
// step it records; a line cut short by a power cut is no line, and it is cut
// away before the journal is written to again.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "base/FileDescriptor.h"

namespace krevo::app {

// A journal that cannot be written, read or acted on.
class ETransactionError final : public base::Exception {
 public:
  using Exception::Exception;
};

inline constexpr const char* kJournalName = ".krevo-update.journal";
// The journal of the package committed before the current one, while the
// current one is being installed.
inline constexpr const char* kPreviousJournalName = ".krevo-update.journal.previous";

enum class TJournalState {
  jsStaging,      // files are being staged: nothing of the installation has changed
  jsCommitting,   // the plan is durable: the staged files are taking their places
  jsDone,         // the package is installed; its backups are kept
  jsRollingBack,  // the package is being undone
  jsRolledBack    // the package was undone
};

// One file of the plan: paths relative to the root folder, the staged file
// and the backup in the destination's folder. `backup` empty: the package
// adds the file. `mode`: the replaced file's permission bits, which its
// backup keeps but for the set-user-id and set-group-id bits; unknown in the
// journals of earlier versions, whose backups keep every bit.
struct TJournalFile {
  std::string folder;  // "" for the root folder itself
  std::string name;
  std::string staged;
  std::string backup;
  std::optional<unsigned> mode;
};

// A folder's modification time before the package changed what it holds.
struct TFolderTime {
  std::string folder;
  struct timespec modified;
};

struct TJournal {
  std::string token;  // names the package's staged files and backups
  std::string package;
  std::vector<std::string> touched;  // folders staged files were made in
  std::vector<std::string> made;     // folders made for the package, in the order made
  std::vector<TFolderTime> times;    // of the folders it changed, to give back on an undo
  std::vector<TJournalFile> files;   // the plan, complete once the state is past jsStaging
  TJournalState state = TJournalState::jsStaging;
  std::size_t length = 0;  // bytes of the whole records read, the header's included
};

// Whether `name` (a part of a path) may name a file below the root: not
// empty, ".", "..", nor holding '/', '\0' or a control character.
bool IsPlainPart(const std::string& name);
// The parts of `path` ('/' separated; "" has none), nothing when one is not
// plain.
std::optional<std::vector<std::string>> PlainParts(const std::string& path);

// Reads the journal `name` in the folder `rootFd` (borrowed). Nothing when
// there is none. Reading stops at the first line that is cut short or is
// not a record that may follow the ones before (a path that would leave
// the root folder is none): no step was taken on what a power cut left half
// written. A journal whose header was never whole has an empty token.
// Throws ETransactionError, saying what to do, when it cannot be read, is
// not a plain file, or begins with a whole line that is not the header of
// a journal this version writes (no step is taken on such a journal).
std::optional<TJournal> ReadJournal(int rootFd, const char* name);

// Appends records to a journal file and makes them durable.
class TJournalWriter final {
 public:
  // Creates the journal `name` in `rootFd` (borrowed, must outlive the
  // writer), which must not exist, with its header, durable with its folder
  // entry. Throws ETransactionError.
  TJournalWriter(int rootFd, const char* name, const std::string& token,
                 const std::string& package);
  // Opens the existing journal `name`, read as `read`, to append to it; what
  // follows its whole records (a record a power cut tore) is cut away first,
  // durably, so that the records appended are read. Throws ETransactionError.
  TJournalWriter(int rootFd, const char* name, const TJournal& read);

  // Appends one record: `fields`, escaped and separated by tabs. Throws
  // ETransactionError.
  void Add(const std::vector<std::string>& fields);
  // Makes every record added so far durable. Throws ETransactionError.
  void Sync();
  // Add, then Sync.
  void AddDurably(const std::vector<std::string>& fields) {
    Add(fields);
    Sync();
  }

 private:
  void Flush();
  base::UniqueFd fd_;
  std::string pending_;
};

}  // namespace krevo::app
