#include "archive/ZipHost.h"

#include <strings.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

#include "base/FileDescriptor.h"
#include "base/FileSystem.h"
#include "base/Paths.h"

namespace krevo::archive {
namespace {

bool ReadFlag(const std::string& file) {
  std::ifstream in(file);
  int v = 0;
  return (in >> v) && v != 0;
}

}  // namespace

bool IsRemovablePath(const std::string& path) {
  auto mediaFolder = [](const std::string& r) {
    return r.rfind("/media/", 0) == 0 || r == "/media" || r.rfind("/run/media/", 0) == 0;
  };
  if (mediaFolder(path)) return true;
  std::string p = path;
  struct stat st;
  while (!p.empty() && ::stat(p.c_str(), &st) != 0) {
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    std::size_t slash = p.rfind('/');
    p = slash == std::string::npos ? std::string() : p.substr(0, slash == 0 ? 1 : slash);
  }
  if (p.empty() && ::stat(".", &st) != 0) return false;
  char resolved[PATH_MAX];
  if (::realpath(p.empty() ? "." : p.c_str(), resolved)) {
    if (mediaFolder(resolved)) return true;
  }
  // A partition has no "removable" flag of its own; its disk (the parent
  // node in /sys) has.
  std::ostringstream dev;
  dev << "/sys/dev/block/" << major(st.st_dev) << ':' << minor(st.st_dev);
  return ReadFlag(dev.str() + "/removable") || ReadFlag(dev.str() + "/../removable");
}

std::string ResolveLetterCase(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return path;
  std::string folder = base::ExtractFilePath(path);
  std::string name = base::ExtractFileName(path);
  base::UniqueDir dir(::opendir(folder.empty() ? "." : folder.c_str()));
  if (!dir || name.empty()) return path;
  while (dirent* e = ::readdir(dir.get()))
    if (::strcasecmp(e->d_name, name.c_str()) == 0) return folder + e->d_name;
  return path;
}

std::uint64_t AvailablePhysicalMemory() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  std::uint64_t kb = 0;
  std::string unit;
  while (in >> key >> kb) {
    std::getline(in, unit);
    if (key == "MemAvailable:") return kb * 1024;
  }
  struct sysinfo si {};
  if (::sysinfo(&si) == 0) return std::uint64_t{si.freeram} * si.mem_unit;
  return 0;
}

}  // namespace krevo::archive
