// The volume layer of TZipBaseArchiver: the probes run by the open, the
// volume layout, volume names and the volume requests with their defaults.
#include <cstdio>

#include "archive/ZipBaseArchiver.h"
#include "archive/ZipDirManager.h"
#include "archive/ZipException.h"
#include "archive/ZipHost.h"
#include "base/Dialogs.h"
#include "base/FileSystem.h"
#include "base/Paths.h"
#include "base/Streams.h"

namespace krevo::archive {
namespace {

bool ContainsExe(const std::string& s) {
  return TZipHashedStringList::LowerAscii(s).find(".exe") != std::string::npos;
}

// Clears the tolerant-open flag for the life of a probe.
class TolerantOff {
 public:
  explicit TolerantOff(bool& flag) : flag_(flag), saved_(flag) { flag_ = false; }
  ~TolerantOff() { flag_ = saved_; }

 private:
  bool& flag_;
  bool saved_;
};

bool Prompt(const std::string& text) {
  return base::Dialogs().MessageDlg(text, base::TMsgDlgType::mtConfirmation,
                                    base::MakeButtons({base::mbOK, base::mbCancel})) == base::mrOk;
}

std::string Numbered(const char* format, int n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, n);
  return buf;
}

}  // namespace

bool TZipBaseArchiver::SelfExtracting() const {
  return (manager_ && manager_->PrefixLength() > 0) || !SFXStub.empty() ||
         ContainsExe(base::ExtractFileName(FileName));
}

void TZipBaseArchiver::VolumeFileName(std::string& name, int index, bool tryBoth) {
  std::string folder = base::ExtractFilePath(name);
  std::string file = base::ExtractFileName(name);
  std::size_t dot = file.rfind('.');
  std::string stem = dot == std::string::npos ? file : file.substr(0, dot);
  std::string ext = dot == std::string::npos ? std::string() : file.substr(dot);
  const bool sfx = SelfExtracting();
  const char* z = method_ > 251 ? ".F" : ".Z";
  const char* zip = method_ > 251 ? ".ZF" : ".ZIP";
  const bool advanced = SpanningOptions.AdvancedNaming;
  const int n = index + 1;
  if (index == -1) {
    if (spanning_ == smSplitting && sfx) name = ResolveLetterCase(folder + stem + zip);
    return;
  }
  if (spanning_ == smSplitting) {
    if (index == 0 && sfx)
      name = folder + stem + ".exe";
    else if (advanced)
      name = folder + stem + Numbered("_%.3u", n) + ext;
    else
      name = folder + stem + z + Numbered("%.2d", n);
    name = ResolveLetterCase(name);
  } else if (spanning_ == smSpanning) {
    if (sfx) ext = ".exe";
    std::string a = ResolveLetterCase(folder + stem + Numbered("_%.3u", n) + ext);
    std::string b = ResolveLetterCase(folder + stem + ext);
    name = advanced ? a : b;
    if (tryBoth && !base::FileExists(name)) {
      const std::string& other = advanced ? b : a;
      if (base::FileExists(other)) name = other;
    }
  }
}

void TZipBaseArchiver::DetectVolumeLayout() {
  std::int64_t pos = -1;
  bool found = manager_ && manager_->LocateEndRecord(pos);
  int disk = found ? manager_->EndRecord().diskNumber : 0;
  if (found && disk == 0) {
    spanning_ = smNone;
    return;
  }
  spanning_ = smSplitting;
  std::string name = FileName;
  VolumeFileName(name, disk - 1, false);
  if (base::FileExists(name)) {
    if (disk == 0) spanning_ = smNone;
    return;
  }
  SpanningOptions.AdvancedNaming = !SpanningOptions.AdvancedNaming;
  name = FileName;
  VolumeFileName(name, disk - 1, false);
  if (base::FileExists(name)) return;
  SpanningOptions.AdvancedNaming = !SpanningOptions.AdvancedNaming;
  spanning_ = ContainsExe(FileName) || (disk == 0 && !IsRemovablePath(FileName)) ? smNone
                                                                                  : smSpanning;
}

void TZipBaseArchiver::PlainProbe(bool removableTest) {
  TolerantOff off(tolerantOpen_);
  bool found = false;
  do {
    manager_.reset();
    volume_.Reset();
    if (removableTest && !base::FileExists(FileName) && IsRemovablePath(FileName))
      spanning_ = smSpanning;
    OpenVolume(TZipVolumeNumberInfo::Last());
    manager_ = std::make_unique<TZipDirManager>(*this, false);
    std::int64_t pos = -1;
    found = manager_->LocateEndRecord(pos);
    DetectVolumeLayout();
  } while (!found && spanning_ != smNone);
}

void TZipBaseArchiver::SfxProbe() {
  {
    TolerantOff off(tolerantOpen_);
    OpenVolume(TZipVolumeNumberInfo::Last());
    manager_ = std::make_unique<TZipDirManager>(*this, false);
    std::int64_t pos = -1;
    if (manager_->LocateEndRecord(pos)) {
      DetectVolumeLayout();
      return;
    }
    manager_.reset();
    spanning_ = smSplitting;
    std::string last = FileName;
    VolumeFileName(last, -1, false);
    if (base::FileExists(last)) {
      volume_.Reset();
      OpenVolume(TZipVolumeNumberInfo::Last());
    }
    spanning_ = smNone;
    manager_ = std::make_unique<TZipDirManager>(*this, false);
  }
  PlainProbe(false);
}

void TZipBaseArchiver::OpenVolume(const TZipVolumeNumberInfo& volume) {
  if (spanning_ == smNone) {
    if (!stream_) OpenStream(FileName, openMode_);
    volumeName_ = FileName;
    volume_ = volume;
    return;
  }
  if (stream_ && volume.SameAs(volume_)) return;
  while (true) {
    std::string name = FileName;
    bool cancel = false;
    if (volume.IsFirst())
      RequestFirstVolume(name, cancel);
    else if (volume.IsLast())
      RequestLastVolume(name, cancel);
    else
      RequestMiddleVolume(volume.VolumeNumber, name, cancel);
    if (cancel) throw EZipException(45, this);
    if (base::FileExists(name) || openMode_ == -1) {
      stream_.reset();
      OpenStream(name, openMode_);
      volume_ = volume;
      volumeName_ = name;
      return;
    }
  }
}

void TZipBaseArchiver::RequestFirstVolume(std::string& name, bool& cancel) {
  name = FileName;
  VolumeFileName(name, 0, !OnRequestFirstVolume);
  if (OnRequestFirstVolume) return OnRequestFirstVolume(this, name, cancel);
  if (spanning_ == smSpanning) {
    cancel = !Prompt("Please insert the first disk");
    name = FileName;
    VolumeFileName(name, 0, true);
  } else {
    cancel = !base::FileExists(name) && openMode_ != -1;
  }
}

void TZipBaseArchiver::RequestLastVolume(std::string& name, bool& cancel) {
  name = FileName;
  VolumeFileName(name, -1, false);
  if (OnRequestLastVolume) return OnRequestLastVolume(this, name, cancel);
  if (spanning_ == smSpanning) {
    cancel = !Prompt("Please insert the last disk");
    while (!cancel && !base::FileExists(name))
      cancel = !Prompt("File '" + name +
                       "' not found on inserted disk. Please insert last disk with required file");
  } else {
    cancel = !base::FileExists(name);
  }
}

void TZipBaseArchiver::RequestMiddleVolume(int index, std::string& name, bool& cancel) {
  name = FileName;
  VolumeFileName(name, index, !OnRequestMiddleVolume);
  if (OnRequestMiddleVolume) return OnRequestMiddleVolume(this, index + 1, name, cancel);
  if (spanning_ == smSpanning)
    cancel = !Prompt("Please insert disk #" + std::to_string(index + 1));
  else
    cancel = !base::FileExists(name);
  name = FileName;
  VolumeFileName(name, index, true);
}

void TZipBaseArchiver::RequestBlankVolume(int index, std::string& name, bool& cancel) {
  name = FileName;
  VolumeFileName(name, index, false);
  if (OnRequestBlankVolume) return OnRequestBlankVolume(this, index + 1, name, cancel);
  cancel = spanning_ == smSpanning
               ? !Prompt("Please insert a blank disk #" + std::to_string(index + 1))
               : false;
}

void TZipBaseArchiver::HandleDiskFull(int index, const std::string& name, bool& cancel) {
  if (OnDiskFull) return OnDiskFull(this, index + 1, name, cancel);
  // Only the writing side asks this, with the sizes it knows; this system
  // never writes volumes, so none are known here.
  cancel = spanning_ == smSpanning
               ? !Prompt("Disk is full. Required free space: 0 bytes, but available only: 0 bytes. "
                         "Clean the disk or find another blank disk")
               : true;
}

}  // namespace krevo::archive
