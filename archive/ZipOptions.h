#pragma once
// The component's option sets, each field at its published default. Copying
// one set to another copies every field.
#include <cstdint>

#include "archive/ZipTypes.h"

namespace krevo::archive {

struct TZipOptions {
  TZipStorePathMode StorePath = spRelativePath;
  bool Recurse = true;
  TZipFileShareMode ShareMode = smShareDenyNone;
  TZipOverwriteMode OverwriteMode = omAlways;
  bool CreateDirs = true;
  bool ReplaceReadOnly = true;
  bool SetAttributes = true;
  std::uint32_t SearchAttr = 10431;
  bool FlushBuffers = true;
  bool OEMFileNames = true;
};

struct TZipSpanningOptions {
  bool AdvancedNaming = true;
  std::int64_t FirstVolumeSize = 0;
  TZipVolumeSize VolumeSize = vsAutoDetect;

  std::int64_t CustomVolumeSize() const { return customVolumeSize_; }
  // Values below 65536 are stored as 65536.
  void SetCustomVolumeSize(std::int64_t v) { customVolumeSize_ = v < 65536 ? 65536 : v; }
  // The size limit of a written volume; -1 means the medium's free space.
  std::int64_t VolumeLimit(bool firstVolume) const {
    if (firstVolume && FirstVolumeSize > 0) return FirstVolumeSize;
    static constexpr std::int64_t kSizes[] = {-1,        0,         1457664,   104857600, 209715200,
                                              262144000, 629145600, 681574400, 734003200,
                                              4928307200};
    return VolumeSize == vsCustom ? customVolumeSize_ : kSizes[VolumeSize];
  }

 private:
  std::int64_t customVolumeSize_ = 0;
};

}  // namespace krevo::archive
