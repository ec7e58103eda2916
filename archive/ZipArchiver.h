#pragma once
// The archive component as the owner places it: the base component with
// Zip64 records disabled for writing and deflate as the method of new items.
#include "archive/ZipBaseArchiver.h"

namespace krevo::archive {

class TZipArchiver : public TZipBaseArchiver {
 public:
  TZipArchiver() {
    Zip64Mode = zmDisabled;
    UpdateCompressionMethod();
  }

 protected:
  // 8 (deflate) unless CompressionMode is 0 (stored).
  void UpdateCompressionMethod() override { method_ = CompressionMode() != 0 ? 8 : 0; }
};

}  // namespace krevo::archive
