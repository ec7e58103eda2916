#pragma once
// The updater's archive component: the archive component as it stands, which
// also follows how each entry ends, so that a package is complete only when
// every entry was installed (written, or kept by the overwrite policy) and a
// run with a failed entry is not taken for a complete update.
#include <functional>
#include <string>

#include "archive/ZipArchiver.h"

namespace krevo::app {

class TUpdaterArchiver final : public archive::TZipArchiver {
 public:
  // Raised once for every file entry that an extraction installed: written
  // in place, or left as it was because the overwrite request answered No.
  // Not raised for folders, for failed entries nor for skipped ones.
  std::function<void(TUpdaterArchiver* Sender, const std::string& FileName)> OnEntryInstalled;

  // Whether an entry has failed since the last ResetEntryFailures: its
  // failure was answered Abort or Ignore, or its password request was
  // cancelled (the entry is then skipped).
  bool EntryFailed() const { return entryFailed_; }
  void ResetEntryFailures() { entryFailed_ = false; }

 protected:
  void NotifyExtractFile(std::string& fileName, std::uint32_t& attributes,
                         const std::string& comment) override {
    archive::TZipArchiver::NotifyExtractFile(fileName, attributes, comment);
    entry_ = fileName;
    entryPending_ =
        (attributes & archive::kAttrDirectory) == 0 && (fileName.empty() || fileName.back() != '/');
  }
  void AskPassword(const std::string& fileName, std::string& password, bool& skip) override {
    archive::TZipArchiver::AskPassword(fileName, password, skip);
    if (!skip) return;
    entryFailed_ = true;
    entryPending_ = false;
  }
  void HandleFileFailure(const std::string& fileName, archive::TZipProcessOperation op,
                         int nativeError, int errorCode, const std::string& message,
                         archive::TZipAction& action) override {
    entryPending_ = false;
    archive::TZipArchiver::HandleFileFailure(fileName, op, nativeError, errorCode, message, action);
    // A retry gets another chance to end well.
    if (action != archive::fxaRetry) entryFailed_ = true;
  }
  // The end of an item that raised no failure: the file is in place, or the
  // overwrite policy kept the installed one.
  void NotifyFileProgress(const std::string& fileName, archive::TZipProcessOperation op,
                          bool& cancel, archive::TZipProgressPhase phase,
                          double progress) override {
    archive::TZipArchiver::NotifyFileProgress(fileName, op, cancel, phase, progress);
    if (phase != archive::ppEnd || op != archive::poExtract || !entryPending_) return;
    entryPending_ = false;
    if (!Cancelled() && !cancel && OnEntryInstalled) OnEntryInstalled(this, entry_);
  }

 private:
  bool entryFailed_ = false;
  bool entryPending_ = false;
  std::string entry_;
};

}  // namespace krevo::app
