#pragma once
// The file system of powercut_fs.py (KREVO_POWERCUT_FS) mounted on a folder
// of its own for the life of the object: it loses what was not flushed at
// each PowerCut, as a disk does when the power goes.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "base/FileDescriptor.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace krevo::test {

class PowerCutFileSystem final {
 public:
  // What a power cut loses (powercut_fs.py says each in full): unflushed
  // data and folder entries wholly; the second half of each unflushed
  // append and of each folder's unflushed changes; unflushed data only.
  enum class TLoss { Lost, Torn, Data };

  // Mounts the file system; Mounted() false where FUSE cannot be had (not
  // root, no /dev/fuse, no python3-pyfuse3).
  PowerCutFileSystem() {
    if (::access("/dev/fuse", R_OK | W_OK) != 0 || ::geteuid() != 0) return;
    if (RunProcess({"/usr/bin/python3", "-c", "import pyfuse3, trio"}, "/").exitCode != 0) return;
    daemon_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{
        "/usr/bin/python3", KREVO_POWERCUT_FS, mount_.Folder(), cuts_ / "cut"});
    for (int i = 0; i < 200 && !Mounted(); ++i) ::usleep(25000);
  }
  ~PowerCutFileSystem() {
    if (!daemon_) return;
    ::kill(daemon_->Pid(), SIGTERM);
    for (int i = 0; i < 200 && Mounted(); ++i) ::usleep(25000);
    // A daemon that died leaves a mount that answers nothing (ENOTCONN), which
    // Mounted() cannot tell from none: detached whatever it looks like, so no
    // test leaves a mount behind.
    ::umount2(mount_.Folder().c_str(), MNT_DETACH);
  }
  PowerCutFileSystem(const PowerCutFileSystem&) = delete;
  PowerCutFileSystem& operator=(const PowerCutFileSystem&) = delete;

  bool Mounted() const {
    struct statfs st;
    return daemon_ && ::statfs(mount_.Folder().c_str(), &st) == 0 &&
           st.f_type == 0x65735546;  // FUSE
  }
  // The mount point, ending in '/'.
  std::string Root() const { return mount_.Folder(); }

  // Cuts the power, losing what `loss` says; returns once the file system
  // serves what survived. Throws std::runtime_error when it did not answer.
  void PowerCut(TLoss loss = TLoss::Lost) {
    namespace fs = std::filesystem;
    std::ofstream(cuts_ / "cut.model") << (loss == TLoss::Lost   ? "lost"
                                           : loss == TLoss::Torn ? "torn"
                                                                 : "data");
    fs::remove(cuts_ / "cut");
    ::kill(daemon_->Pid(), SIGUSR1);
    for (int i = 0; i < 400 && !fs::exists(cuts_ / "cut"); ++i) ::usleep(5000);
    if (!fs::exists(cuts_ / "cut")) throw std::runtime_error("the power cut was not made");
  }

  // Makes every file and folder below `path` durable, as a sync would:
  // what a test lays out before a cut is not what the cut is about.
  static void Flush(const std::string& path) {
    namespace fs = std::filesystem;
    const auto flush = [](const fs::path& p) {
      base::UniqueFd fd(::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
      if (!fd || ::fsync(fd.get()) != 0) throw std::runtime_error("cannot flush " + p.string());
    };
    fs::path folder(path);
    if (folder.filename().empty()) folder = folder.parent_path();
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (!e.is_symlink()) flush(e.path());
    flush(folder);
    flush(folder.parent_path());
  }

 private:
  TempDir mount_, cuts_;
  std::unique_ptr<BackgroundProcess> daemon_;
};

}  // namespace krevo::test
