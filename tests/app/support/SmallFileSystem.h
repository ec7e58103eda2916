#pragma once
// A small tmpfs, mounted for the life of the object (root only).
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>

namespace krevo::test {

class SmallFileSystem final {
 public:
  explicit SmallFileSystem(const std::string& at, const std::string& size = "256k",
                           const std::string& mode = "0755")
      : at_(at) {
    mounted_ =
        ::mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size + ",mode=" + mode).c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool Mounted() const { return mounted_; }
  // Writes a file there until the file system is full.
  void Fill() const {
    const int fd = ::open((at_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const std::string block(4096, 'f');
    while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) {
    }
    if (fd >= 0) ::close(fd);
  }

 private:
  std::string at_;
  bool mounted_ = false;
};

}  // namespace krevo::test
