#pragma once
// A small tmpfs, mounted for the life of the object (root only).
#include <sys/mount.h>

#include <string>

namespace krevo::test {

class SmallFileSystem final {
 public:
  explicit SmallFileSystem(const std::string& at, const std::string& size = "256k") : at_(at) {
    mounted_ =
        ::mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0755").c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool Mounted() const { return mounted_; }

 private:
  std::string at_;
  bool mounted_ = false;
};

}  // namespace krevo::test
