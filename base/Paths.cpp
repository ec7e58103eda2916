#include "base/Paths.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace krevo::base {

std::string ExtractFilePath(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExecutablePath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

std::string ExecutableFolder() {
  return ExtractFilePath(ExecutablePath());
}

std::string TempFolderPath() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = env && *env ? env : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir != "/") dir += '/';
  return dir;
}

std::string ApplicationTitle(const std::string& executablePath) {
  std::string name = ExtractFileName(executablePath);
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  for (std::size_t i = 0; i < name.size(); ++i)
    name[i] = static_cast<char>(i == 0 ? std::toupper(static_cast<unsigned char>(name[i]))
                                       : std::tolower(static_cast<unsigned char>(name[i])));
  return name;
}

}  // namespace krevo::base
