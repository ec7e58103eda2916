#pragma once
// Names one volume of a multi-volume archive: its kind (first, last,
// numbered, unknown), its 0-based number and the last volume's number (-1
// when unknown).
#include <cstdint>

namespace krevo::archive {

enum TZipVolumeKind { vkFirst = 0, vkLast = 1, vkNumbered = 2, vkUnknown = 3 };

class TZipVolumeNumberInfo final {
 public:
  TZipVolumeKind Kind = vkUnknown;
  std::int32_t VolumeNumber = -1;
  std::int32_t LastVolumeNumber = -1;

  static TZipVolumeNumberInfo First(std::int32_t last = -1) {
    TZipVolumeNumberInfo v;
    v.LastVolumeNumber = last;
    v.SetFirst();
    return v;
  }
  static TZipVolumeNumberInfo Last(std::int32_t last = -1) {
    TZipVolumeNumberInfo v;
    v.LastVolumeNumber = last;
    v.SetLast();
    return v;
  }
  // Volume `n` of an archive whose last volume is `last`; the first and the
  // last keep their kinds.
  static TZipVolumeNumberInfo Numbered(std::int32_t n, std::int32_t last) {
    TZipVolumeNumberInfo v;
    v.LastVolumeNumber = last;
    if (n == 0)
      v.SetFirst();
    else if (n == last)
      v.SetLast();
    else
      v.SetNumbered(n);
    return v;
  }

  void Reset() { *this = TZipVolumeNumberInfo{}; }
  void SetFirst() { Kind = vkFirst, VolumeNumber = 0; }
  void SetLast() { Kind = vkLast, VolumeNumber = LastVolumeNumber; }
  void SetNumbered(std::int32_t n) { Kind = vkNumbered, VolumeNumber = n; }

  bool IsFirst() const { return VolumeNumber == 0; }
  bool IsLast() const {
    return LastVolumeNumber < 0 ? Kind == vkLast : VolumeNumber == LastVolumeNumber;
  }
  bool SameAs(const TZipVolumeNumberInfo& o) const {
    if (IsLast() && o.IsLast()) return true;
    if (IsFirst() && o.IsFirst()) return true;
    if (VolumeNumber < 0) return Kind == o.Kind;
    return VolumeNumber == o.VolumeNumber;
  }
};

}  // namespace krevo::archive
