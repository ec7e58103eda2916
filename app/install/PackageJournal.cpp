#include "app/install/PackageJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/install/TransactionSteps.h"
#include "base/AtomicFile.h"

namespace krevo::app {
namespace {

constexpr const char* kMagic = "krevo-journal";
constexpr const char* kVersion = "1";
// A journal names one package's files; a larger one is no journal of ours.
constexpr off_t kMaxJournalSize = 256 << 20;

[[noreturn]] void Fail(const std::string& what, int error) {
  throw ETransactionError("The update journal " + what + ": " + std::strerror(error));
}

// A journal that no step may be taken on: the user is told what to do.
[[noreturn]] void Unusable(const char* name, const std::string& what, const std::string& todo) {
  throw ETransactionError(std::string("The update journal ") + name + " in the root folder " +
                          what + ". No update can be installed or rolled back until then: " + todo +
                          ".");
}

// Permission bits as the journal writes them (octal); nothing when not.
std::optional<unsigned> Mode(const std::string& text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  unsigned mode = 0;
  for (char c : text) {
    if (c < '0' || c > '7') return std::nullopt;
    mode = mode * 8 + static_cast<unsigned>(c - '0');
  }
  return mode;
}

std::string Escape(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (char c : field) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

// The fields of one line; nothing when an escape is malformed.
std::optional<std::vector<std::string>> Split(const std::string& line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\') {
      if (++i == line.size()) return std::nullopt;
      const char e = line[i];
      if (e != '\\' && e != 't' && e != 'n') return std::nullopt;
      fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : '\\';
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

bool IsPlainFolder(const std::string& folder) {
  return PlainParts(folder).has_value();
}

bool IsNumber(const std::string& text) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<std::vector<std::string>> PlainParts(const std::string& path) {
  std::vector<std::string> parts;
  if (path.empty()) return parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = path.find('/', start);
    parts.push_back(path.substr(start, slash - start));
    if (!IsPlainPart(parts.back())) return std::nullopt;
    if (slash == std::string::npos) return parts;
    start = slash + 1;
  }
}

bool IsPlainPart(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c == '/' || c < 0x20 || c == 0x7f) return false;
  return true;
}

std::optional<TJournal> ReadJournal(int rootFd, const char* name) {
  base::TSmallFileContent file =
      base::ReadSmallFile(rootFd, name, static_cast<std::size_t>(kMaxJournalSize));
  switch (file.status) {
    case base::TSmallRead::srRead:
      break;
    case base::TSmallRead::srAbsent:
      return std::nullopt;
    case base::TSmallRead::srOpenFailed:
      if (file.error == ELOOP)
        Unusable(name, "is no journal (a link)", "move it out of the root folder");
      [[fallthrough]];
    case base::TSmallRead::srReadFailed:
      Unusable(name, std::string("cannot be read (") + std::strerror(file.error) + ")",
               "check the disk and the file's permissions");
    case base::TSmallRead::srNotRegular:
    case base::TSmallRead::srTooLarge:
      Unusable(name, "is no journal (not a plain file, or larger than 256 MiB)",
               "move it out of the root folder");
  }
  const std::string& text = file.content;
  TJournal journal;
  bool header = false;
  std::size_t start = 0;
  // Only whole lines count, and only up to the first that is not one of
  // ours: what follows was being written when the power went, and no step
  // was taken on it, since every step waits for its record to be durable.
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const auto fields = Split(text.substr(start, end - start));
    if (!fields) break;
    const std::vector<std::string>& f = *fields;
    const std::string& kind = f[0];
    const TJournalState state = journal.state;
    if (!header) {
      // A first line that is whole was written whole: if it is no header of
      // ours, another program or version wrote the file, and what it means
      // is not known here.
      if (kind != kMagic || f.size() != 4 || f[1] != kVersion || f[2].empty())
        Unusable(name, "was not written by this version of the updater",
                 "finish the update with the version that began it, or move the file out of "
                 "the root folder");
      journal.token = f[2];
      journal.package = f[3];
      header = true;
    } else if (state == TJournalState::jsStaging && kind == "folder" && f.size() == 2 &&
               IsPlainFolder(f[1])) {
      journal.touched.push_back(f[1]);
    } else if (state == TJournalState::jsStaging && kind == "time" && f.size() == 4 &&
               IsPlainFolder(f[1]) && IsNumber(f[2]) && IsNumber(f[3])) {
      journal.times.push_back(
          {f[1], {static_cast<time_t>(std::stoll(f[2])), std::stol(f[3]) % 1000000000}});
    } else if (state == TJournalState::jsStaging && kind == "made" && f.size() == 2 &&
               !f[1].empty() && IsPlainFolder(f[1])) {
      journal.made.push_back(f[1]);
    } else if (state == TJournalState::jsStaging && kind == "file" &&
               (f.size() == 5 || f.size() == 6) && IsPlainFolder(f[1]) && IsPlainPart(f[2]) &&
               IsPlainPart(f[3]) && (f[4].empty() || IsPlainPart(f[4])) &&
               (f.size() == 5 || f[5].empty() || Mode(f[5]))) {
      // Earlier versions wrote no mode.
      journal.files.push_back({f[1], f[2], f[3], f[4], f.size() == 6 ? Mode(f[5]) : std::nullopt});
    } else if (state == TJournalState::jsStaging && kind == "commit" && f.size() == 2 &&
               f[1] == std::to_string(journal.files.size())) {
      journal.state = TJournalState::jsCommitting;
    } else if (state == TJournalState::jsCommitting && kind == "done" && f.size() == 1) {
      journal.state = TJournalState::jsDone;
    } else if (state == TJournalState::jsDone && kind == "rollback" && f.size() == 1) {
      journal.state = TJournalState::jsRollingBack;
    } else if (state == TJournalState::jsRollingBack && kind == "rolled-back" && f.size() == 1) {
      journal.state = TJournalState::jsRolledBack;
    } else {
      break;
    }
    journal.length = end + 1;
  }
  // Plan lines without their commit line were never acted on.
  if (journal.state == TJournalState::jsStaging) journal.files.clear();
  return journal;
}

TJournalWriter::TJournalWriter(int rootFd, const char* name, const std::string& token,
                               const std::string& package) {
  fd_.Reset(::openat(rootFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd_) Fail("cannot be created", errno);
  Add({kMagic, kVersion, token, package});
  Sync();
  // The journal's own name must survive a power cut too.
  if (::fsync(rootFd) != 0) Fail("cannot be flushed", errno);
}

TJournalWriter::TJournalWriter(int rootFd, const char* name, const TJournal& read) {
  fd_.Reset(::openat(rootFd, name, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
  if (!fd_) Fail("cannot be opened", errno);
  struct stat st;
  if (::fstat(fd_.get(), &st) != 0) Fail("cannot be read", errno);
  if (!S_ISREG(st.st_mode)) Fail("cannot be opened", EINVAL);
  // A record after a torn one would never be read: the reader stops at the
  // first line that is not a record.
  if (static_cast<std::size_t>(st.st_size) > read.length) {
    if (::ftruncate(fd_.get(), static_cast<off_t>(read.length)) != 0)
      Fail("cannot be written", errno);
    if (::fdatasync(fd_.get()) != 0) Fail("cannot be flushed", errno);
  }
}

void TJournalWriter::Add(const std::vector<std::string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) pending_ += '\t';
    pending_ += Escape(fields[i]);
  }
  pending_ += '\n';
  if (pending_.size() >= 1 << 16) Flush();
}

void TJournalWriter::Flush() {
  if (!WriteAll(fd_.get(), pending_)) Fail("cannot be written", errno ? errno : ENOSPC);
  pending_.clear();
}

void TJournalWriter::Sync() {
  Flush();
  // A crash here leaves records written but not flushed: a power cut may
  // keep any part of them.
  transaction::Step();
  if (::fdatasync(fd_.get()) != 0) Fail("cannot be flushed", errno);
}

}  // namespace krevo::app
