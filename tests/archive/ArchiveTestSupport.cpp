#include "tests/archive/ArchiveTestSupport.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "archive/ZipArchiver.h"
#include "archive/ZipCryptKeys.h"
#include "archive/ZipDirManager.h"
#include "base/Paths.h"

namespace krevo::archive::test {

TempFolder::TempFolder() {
  std::string templ = base::TempFolderPath() + "krevo-archive-test.XXXXXX";
  if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ + "/";
}

TempFolder::~TempFolder() {
  std::error_code ec;
  // Read-only folders and files left by a test are made writable first.
  for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec))
    std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string Shell(const std::string& folder, const std::string& command) {
  std::string full = "cd '" + folder + "' && " + command + " 2>&1";
  std::string out;
  FILE* p = ::popen(full.c_str(), "r");
  if (!p) {
    ADD_FAILURE() << "cannot run " << command;
    return out;
  }
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  if (status != 0) ADD_FAILURE() << "command failed: " << command << "\n" << out;
  return out;
}

std::string ZipTool(const std::string& folder, const std::string& args) {
  std::string script = std::string(KREVO_TEST_SOURCE_DIR) + "/tests/archive/ziptool.py";
  return Shell(folder, "/usr/bin/python3 '" + script + "' " + args);
}

std::string ItemNames(TZipBaseArchiver& zip) {
  std::string out;
  for (int i = 0; i < zip.DirManager()->Items().UsedCount(); ++i)
    out += zip.DirManager()->Items().ItemPtr(i).name + ";";
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

void Damage(const std::string& path, std::int64_t offset, const std::string& bytes) {
  std::string data = ReadFile(path);
  std::int64_t at = offset < 0 ? static_cast<std::int64_t>(data.size()) + offset : offset;
  data.replace(static_cast<std::size_t>(at), bytes.size(), bytes);
  WriteFile(path, data);
}

void Cut(const std::string& path, std::int64_t size) {
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}

std::string LabelName::Sanitize(std::string label) {
  for (char& c : label)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return label;
}

bool PasswordPassesCheck(const std::string& archive, int index, const std::string& password) {
  TZipArchiver zip;
  zip.FileName = archive;
  zip.OpenArchiveFile(0);
  const TDirItem& item = zip.DirManager()->Items().ItemPtr(index);
  std::string d = ReadFile(archive);
  std::size_t at = item.LocalOffset();
  auto u16 = [&](std::size_t p) { return static_cast<unsigned char>(d[p]) | static_cast<unsigned char>(d[p + 1]) << 8; };
  std::size_t data = at + 30 + u16(at + 26) + u16(at + 28);
  std::uint8_t header[12];
  std::memcpy(header, d.data() + data, 12);
  std::uint8_t check = (u16(at + 6) & 8) ? static_cast<std::uint8_t>(u16(at + 10) >> 8)
                                          : static_cast<unsigned char>(d[at + 17]);
  TZipCryptKeys keys;
  keys.Init(password);
  return keys.CheckHeader(header, check);
}

std::string WrongPassword(const std::string& archive, const std::vector<int>& items,
                          bool passing) {
  for (int n = 0; n < 100000; ++n) {
    std::string candidate = "wrong" + std::to_string(n);
    bool all = true;
    for (int i : items) all = all && PasswordPassesCheck(archive, i, candidate) == passing;
    if (all) return candidate;
  }
  ADD_FAILURE() << "no such password";
  return "";
}

ScriptedDialogs::ScriptedDialogs() : previous_(base::SetDialogs(this)) {}
ScriptedDialogs::~ScriptedDialogs() { base::SetDialogs(previous_); }

int ScriptedDialogs::MessageDlg(const std::string& text, base::TMsgDlgType, base::TMsgDlgButtons,
                                const std::string& caption) {
  asked.push_back(caption + "|" + text);
  if (results.empty()) return base::mrCancel;
  int r = results.front();
  results.pop_front();
  return r;
}

bool ScriptedDialogs::InputQuery(const std::string& caption, const std::string& prompt,
                                 std::string& value) {
  asked.push_back(caption + "|" + prompt + value);
  if (inputs.empty() || inputs.front() == "\x18") {
    if (!inputs.empty()) inputs.pop_front();
    return false;
  }
  value = inputs.front();
  inputs.pop_front();
  return true;
}

void ScriptedDialogs::ShowError(const std::string& title, const std::string& message) {
  asked.push_back(title + "|" + message);
}

}  // namespace krevo::archive::test
