#pragma once
// Helpers of the archive tests: a temporary folder removed at the end, shell
// commands that make archives with other tools, byte damage, and a scripted
// dialog service that records what was asked.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "base/Dialogs.h"

namespace krevo::archive {
class TZipBaseArchiver;
}

namespace krevo::archive::test {

// A fresh folder below the system's temporary folder, removed with everything
// in it when the object goes. Path() ends in '/'.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// Runs `command` with /bin/sh in `folder`; fails the test (and returns its
// output so far) when it exits non-zero. Returns standard output.
std::string Shell(const std::string& folder, const std::string& command);
// Runs the helper script tests/archive/ziptool.py with /usr/bin/python3.
std::string ZipTool(const std::string& folder, const std::string& args);

// The names of the open archive's items, each followed by ';'.
std::string ItemNames(TZipBaseArchiver& zip);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
// Overwrites bytes of a file in place (negative offsets count from the end).
void Damage(const std::string& path, std::int64_t offset, const std::string& bytes);
// Cuts a file to its first `size` bytes.
void Cut(const std::string& path, std::int64_t size);

// Does `password` pass the 12-byte header check of item `index`?
bool PasswordPassesCheck(const std::string& archive, int index, const std::string& password);
// A password other than `right` that fails (or, with `passing`, passes) the
// header check of every listed item.
std::string WrongPassword(const std::string& archive, const std::vector<int>& items,
                          bool passing = false);

// A parameterised test's name from its case's label: letters and digits
// kept, everything else '_'.
struct LabelName {
  template <class Info>
  std::string operator()(const Info& info) const {
    return Sanitize(info.param.label);
  }
  static std::string Sanitize(std::string label);
};

// Answers dialogs from a script (mrCancel / InputQuery false when it runs
// out) and records every question as "caption|text" lines.
class ScriptedDialogs final : public base::TDialogService {
 public:
  ScriptedDialogs();
  ~ScriptedDialogs() override;
  int MessageDlg(const std::string& text, base::TMsgDlgType type, base::TMsgDlgButtons buttons,
                 const std::string& caption) override;
  bool InputQuery(const std::string& caption, const std::string& prompt,
                  std::string& value) override;
  void ShowError(const std::string& title, const std::string& message) override;

  std::deque<int> results;                 // answers of MessageDlg
  std::deque<std::string> inputs;          // answers of InputQuery; "\x18" cancels
  std::vector<std::string> asked;

 private:
  base::TDialogService* previous_;
};

}  // namespace krevo::archive::test
