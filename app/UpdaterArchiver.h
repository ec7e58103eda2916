#pragma once
// The updater's archive component: the archive component as it stands, which
// also notes whether the extraction of any entry failed, so that a run with a
// damaged package is not taken for a complete update.
#include "archive/ZipArchiver.h"

namespace krevo::app {

class TUpdaterArchiver final : public archive::TZipArchiver {
 public:
  // Whether an entry has failed since the last ResetEntryFailures.
  bool EntryFailed() const { return entryFailed_; }
  void ResetEntryFailures() { entryFailed_ = false; }

 protected:
  void HandleFileFailure(const std::string& fileName, archive::TZipProcessOperation op,
                         int nativeError, int errorCode, const std::string& message,
                         archive::TZipAction& action) override {
    entryFailed_ = true;
    archive::TZipArchiver::HandleFileFailure(fileName, op, nativeError, errorCode, message, action);
  }

 private:
  bool entryFailed_ = false;
};

}  // namespace krevo::app
