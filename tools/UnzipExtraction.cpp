#include "tools/UnzipExtraction.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "archive/ZipDirManager.h"
#include "base/ControlEscape.h"
#include "base/FileSystem.h"

namespace krevo::tools {
namespace {

using archive::TZipBaseArchiver;

// Names and messages come from the archive: shown with control characters
// escaped, so that a name cannot move the cursor or forge a line.
std::string Shown(const std::string& text) {
  return base::EscapeControlCharacters(text);
}

// One line from the terminal; `hidden` turns the echo off for passwords.
bool AskLine(const std::string& prompt, std::string& answer, bool hidden) {
  std::cerr << prompt << std::flush;
  termios old{};
  bool restore = hidden && ::tcgetattr(STDIN_FILENO, &old) == 0;
  if (restore) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  bool ok = static_cast<bool>(std::getline(std::cin, answer));
  if (restore) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    std::cerr << '\n';
  }
  return ok;
}

class Session {
 public:
  Session(TZipBaseArchiver& zip, const TUnzipRequest& r)
      : zip_(zip), r_(r), interactive_(::isatty(STDIN_FILENO)), bar_(::isatty(STDERR_FILENO)) {}

  int Run(const std::vector<int>& indexes) {
    archive::TZipDirArray& items = zip_.DirManager()->Items();
    items.ClearMarks();
    for (int i : indexes) items.ItemPtr(i).marked = true;
    zip_.BaseDir = r_.folder;
    // The component asks before every replacement; the answer follows -o.
    zip_.Options.OverwriteMode = archive::omPrompt;
    zip_.OnExtractFile = [this](TZipBaseArchiver*, std::string& name, std::uint32_t&,
                                const std::string&) { current_ = name, skipped_ = false; };
    zip_.OnConfirmOverwrite = [this](TZipBaseArchiver*, const std::string& source,
                                     std::string& dest, bool& confirm) {
      confirm = Overwrite(source, dest);
      if (!confirm) Skip(source, "not replaced");
    };
    zip_.OnPassword = [this](TZipBaseArchiver*, const std::string& name, std::string& password,
                             bool& skip) {
      std::string typed;
      if (interactive_ && AskLine("password for " + Shown(name) + ": ", typed, true) &&
          !typed.empty())
        password = typed;
      else
        skip = true, Skip(name, "skipped, no valid password");
    };
    zip_.OnProcessFileFailure = [this](TZipBaseArchiver*, const std::string& name,
                                       archive::TZipProcessOperation, int, int,
                                       const std::string& message, archive::TZipAction& action) {
      EndBar();
      std::cerr << "krevo-unzip: " << Shown(name) << ": " << Shown(message) << '\n';
      action = archive::fxaIgnore;
      std::string a;
      if (interactive_ && AskLine("[a]bort, [r]etry, [i]gnore? ", a, false) && !a.empty())
        action = a[0] == 'a' ? archive::fxaAbort : a[0] == 'r' ? archive::fxaRetry
                                                              : archive::fxaIgnore;
      if (action != archive::fxaRetry) ++failed_;
    };
    zip_.OnFileProgress = [this](TZipBaseArchiver*, const std::string& name, double,
                                 archive::TZipProcessOperation, archive::TZipProgressPhase phase,
                                 bool&) {
      if (phase != archive::ppEnd || skipped_ || r_.quiet || zip_.SkipFile()) return;
      EndBar();
      std::cout << Shown(name) << (r_.test ? ": OK" : "") << '\n';
    };
    if (bar_)
      zip_.OnOverallProgress = [this](TZipBaseArchiver*, double progress,
                                      archive::TZipProcessOperation, archive::TZipProgressPhase,
                                      bool&) { DrawBar(progress); };
    zip_.ProcessMarkedItems(r_.test ? archive::poTest : archive::poExtract);
    EndBar();
    return failed_ + skippedCount_;
  }

 private:
  bool Overwrite(const std::string& source, const std::string& dest) {
    switch (r_.overwrite) {
      case TOverwrite::Always:
        return true;
      case TOverwrite::Never:
        return false;
      case TOverwrite::Newer:
      case TOverwrite::Older: {
        archive::TZipArchiveItem item;
        auto theirs = static_cast<std::int32_t>(base::FileAge(dest).value_or(0));
        if (!zip_.FindFirstEntry(source, item, 10431)) return false;
        auto ours = static_cast<std::int32_t>(std::uint32_t{item.DosDate} << 16 | item.DosTime);
        return r_.overwrite == TOverwrite::Newer ? ours > theirs : ours < theirs;
      }
      case TOverwrite::Prompt:
        break;
    }
    if (all_ != 0) return all_ > 0;
    std::string a;
    if (!interactive_) return false;
    EndBar();
    if (!AskLine("replace " + Shown(dest) + "? [y]es, [n]o, [A]ll, [N]one: ", a, false) ||
        a.empty())
      return false;
    if (a[0] == 'A') all_ = 1;
    if (a[0] == 'N') all_ = -1;
    return a[0] == 'y' || a[0] == 'A';
  }

  void Skip(const std::string& name, const char* why) {
    EndBar();
    std::cerr << "krevo-unzip: " << Shown(name) << ": " << why << '\n';
    skipped_ = true;
    ++skippedCount_;
  }

  void DrawBar(double progress) {
    int filled = static_cast<int>(progress / 100.0 * 40 + 0.5);
    std::cerr << "\r[" << std::string(filled, '#') << std::string(40 - filled, ' ') << "] "
              << static_cast<int>(progress) << "% " << std::flush;
    drawn_ = true;
  }
  void EndBar() {
    if (drawn_) std::cerr << "\r" << std::string(50, ' ') << "\r" << std::flush;
    drawn_ = false;
  }

  TZipBaseArchiver& zip_;
  const TUnzipRequest& r_;
  bool interactive_, bar_;
  bool drawn_ = false;
  std::string current_;
  bool skipped_ = false;
  int failed_ = 0, skippedCount_ = 0, all_ = 0;
};

}  // namespace

int ExtractItems(TZipBaseArchiver& zip, const std::vector<int>& indexes,
                 const TUnzipRequest& request) {
  Session s(zip, request);
  return s.Run(indexes);
}

}  // namespace krevo::tools
