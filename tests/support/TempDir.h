#pragma once
// A temporary folder for one test, removed with everything in it when the
// object goes out of scope.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace krevo::test {

class TempDir final {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "krevo-test.XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }

  // The folder, ending in '/'.
  std::string Folder() const { return path_.string() + "/"; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  // Writes `content` to `name` below the folder; returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    std::string p = *this / name;
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

 private:
  std::filesystem::path path_;
};

// The whole content of a file ("" when it cannot be read).
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace krevo::test
