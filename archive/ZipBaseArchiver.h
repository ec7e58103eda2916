#pragma once
// The archive component: published settings, the open archive (stream and
// directory manager), item counts and finds, the volume layer, extraction and
// the events it raises. Used from its owner's thread only; events run
// synchronously inside the operation that raises them. An unassigned event is
// skipped, or, for the overwrite, password, failure and volume requests,
// answered by a default dialog through base::Dialogs().
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/ZipOptions.h"
#include "archive/ZipTypes.h"
#include "archive/ZipVolumeNumberInfo.h"
#include "base/FileDescriptor.h"
#include "base/FileSystem.h"

namespace krevo::base {
class TStream;
}

namespace krevo::archive {

class TZipDirManager;
class TZipFolderStamps;

class TZipBaseArchiver {
 public:
  TZipBaseArchiver();
  // Closes the archive first.
  virtual ~TZipBaseArchiver();
  TZipBaseArchiver(const TZipBaseArchiver&) = delete;
  TZipBaseArchiver& operator=(const TZipBaseArchiver&) = delete;

  // The component's name; prefixes the messages of its exceptions when set.
  std::string Name;

  // ---- Published properties (values at creation) ----
  bool ExtractCorruptedFiles = false;
  std::string CurrentVersion;  // informational only
  std::string Password;
  std::string FileName;
  std::string BaseDir;
  std::string TempDir;
  TZipSpanningOptions SpanningOptions;
  std::string SFXStub;
  TZipOptions Options;
  std::vector<std::string> FileMasks, ExclusionMasks, NoCompressionMasks;
  TZip64Mode Zip64Mode = zmAuto;

  // Level and mode follow each other: clNone/clFastest/clNormal/clMax are the
  // modes 0/1/6/9; modes 1-3 read back clFastest, 4-6 clNormal, 7-9 clMax.
  TZipCompressionLevel CompressionLevel() const { return level_; }
  void SetCompressionLevel(TZipCompressionLevel level);
  int CompressionMode() const { return mode_; }
  // Throws EZipException 5 above 9.
  void SetCompressionMode(int mode);
  int CompressionMethod() const { return method_; }
  TZipSpanningMode SpanningMode() const { return spanning_; }
  // Throws base::Exception "Cannot set spanning mode on open archive" while open.
  void SetSpanningMode(TZipSpanningMode mode);
  bool InMemory() const { return inMemory_; }
  // While open, moves the archive between memory and FileName.
  void SetInMemory(bool value);

  // ---- Events ----
  using TFileProgressEvent = std::function<void(
      TZipBaseArchiver* Sender, const std::string& FileName, double Progress,
      TZipProcessOperation Operation, TZipProgressPhase ProgressPhase, bool& Cancel)>;
  using TProgressEvent =
      std::function<void(TZipBaseArchiver* Sender, double Progress, TZipProcessOperation Operation,
                         TZipProgressPhase ProgressPhase, bool& Cancel)>;
  using TCopyTempFileProgressEvent = std::function<void(
      TZipBaseArchiver* Sender, double Progress, TZipProgressPhase ProgressPhase, bool& Cancel)>;
  using TConfirmOverwriteEvent =
      std::function<void(TZipBaseArchiver* Sender, const std::string& SourceFileName,
                         std::string& DestFileName, bool& Confirm)>;
  using TConfirmProcessFileEvent =
      std::function<void(TZipBaseArchiver* Sender, const std::string& FileName,
                         TZipProcessOperation Operation, bool& Confirm)>;
  using TNotifyEvent = std::function<void(TZipBaseArchiver* Sender)>;
  using TPasswordEvent = std::function<void(TZipBaseArchiver* Sender, const std::string& FileName,
                                            std::string& NewPassword, bool& SkipFile)>;
  using TProcessFileFailureEvent = std::function<void(
      TZipBaseArchiver* Sender, const std::string& FileName, TZipProcessOperation Operation,
      int NativeError, int ErrorCode, const std::string& ErrorMessage, TZipAction& Action)>;
  using TVolumeEvent = std::function<void(TZipBaseArchiver* Sender, int VolumeNumber,
                                          std::string& VolumeFileName, bool& Cancel)>;
  using TEndVolumeEvent =
      std::function<void(TZipBaseArchiver* Sender, std::string& VolumeFileName, bool& Cancel)>;
  using TDiskFullEvent = std::function<void(TZipBaseArchiver* Sender, int VolumeNumber,
                                            const std::string& VolumeFileName, bool& Cancel)>;
  using TStoreFileEvent =
      std::function<void(TZipBaseArchiver* Sender, std::string& FileName, std::uint32_t& FileAttr,
                         std::string& Comment, const std::string& OriginalFileName)>;
  using TExtractFileEvent =
      std::function<void(TZipBaseArchiver* Sender, std::string& FileName, std::uint32_t& FileAttr,
                         const std::string& Comment)>;
  // Called with a folder's path below the base and the status of the folder
  // just made there.
  using TFolderMadeCallback =
      std::function<void(const std::string& Folder, const struct stat& FolderStatus)>;
  // An owner that installs what is extracted as one change (a transaction)
  // places the files itself: OnStageFolder makes the missing folders of
  // `Folder` (below the base, '/' separated, "" for the base itself),
  // reporting each to `Made`; OnStageFile gives a new file, for the data of
  // the entry to be installed at `FileName` (below the base) with the
  // permission bits `Mode`, that the owner puts in place later. Either
  // throws base::Exception when it cannot; the entry then fails.
  using TStageFolderEvent = std::function<void(TZipBaseArchiver* Sender, const std::string& Folder,
                                               const TFolderMadeCallback& Made)>;
  using TStageFileEvent = std::function<base::UniqueFd(TZipBaseArchiver* Sender,
                                                       const std::string& FileName, unsigned Mode)>;

  TFileProgressEvent OnFileProgress;
  TProgressEvent OnOverallProgress;
  TCopyTempFileProgressEvent OnCopyTempFileProgress;
  TConfirmOverwriteEvent OnConfirmOverwrite;
  TConfirmProcessFileEvent OnConfirmProcessFile;
  TNotifyEvent AfterOpen;
  TPasswordEvent OnPassword;
  TProcessFileFailureEvent OnProcessFileFailure;
  TVolumeEvent OnRequestBlankVolume;
  TEndVolumeEvent OnRequestFirstVolume;
  TEndVolumeEvent OnRequestLastVolume;
  TVolumeEvent OnRequestMiddleVolume;
  TDiskFullEvent OnDiskFull;
  TStoreFileEvent OnStoreFile;
  TExtractFileEvent OnExtractFile;
  // Both assigned: extraction stages its files through them (see
  // TStageFileEvent) and makes no folder itself; the overwrite questions
  // come as they do otherwise, and a destination path that a handler
  // changes fails its entry. Either unassigned: each file replaces its
  // destination once its data verified.
  TStageFolderEvent OnStageFolder;
  TStageFileEvent OnStageFile;

  // ---- Opening and reading ----
  // Opens FileName (mode: -1 creates; otherwise the low two bits select read
  // 0, write 1 or read-write 2). Throws EZipException 10 (no file name), 12
  // (missing file; the archive open before stays open), 28 (InMemory with a
  // mode other than -1), 35/40/44/45 from the reader and volumes, and the
  // stream's EFOpenError for a file that cannot be opened, and 63 when two
  // items would take their data from the same bytes (an overlap bomb).
  void OpenArchiveFile(int mode = 0);
  // Opens the single-volume archive held in `stream` for reading, as
  // OpenArchiveFile(0) would open a file: the component takes `stream` and
  // owns it until CloseArchiveFile or the next open, and never opens anything
  // by name for it, no volume beside it either. FileName becomes
  // `displayName`, which names the archive in messages only; InMemory
  // becomes false. Throws EZipException 13 for a null stream, 35/40 from the
  // reader, and the stream's errors; after a throw the component is closed
  // and `stream` gone.
  void OpenArchiveStream(std::unique_ptr<base::TStream> stream, std::string displayName);
  // Never throws; closing a closed archive does nothing.
  void CloseArchiveFile() noexcept;
  bool Active() const { return open_; }
  // Whether the open archive's directory was missing or damaged, so that its
  // items were rebuilt from local headers: what they hold may be only part of
  // the archive (a download cut short). False when closed.
  bool DirectoryRebuilt() const;
  // Items that are not folders. Throws EZipException 13 when closed.
  int EntryCount();
  // Finds the first item matching `mask` ('\' or '/' separators) whose
  // attributes the search attributes allow, filling `item` and its find
  // state. Throws EZipException 13 when closed. A mask of more than 259
  // characters finds nothing. A mask without '*' and '?' (a name, as the
  // overwrite check passes) is looked up in constant time, with the answer
  // the search of every item in archive order gives.
  bool FindFirstEntry(const std::string& mask, TZipArchiveItem& item, std::uint32_t searchAttr,
                      const std::string& exclusionMask = "");
  // Continues the find held in `item`. Throws EZipException 13 when closed.
  bool FindNextEntry(TZipArchiveItem& item);

  // ---- Extraction ----
  // Extracts every matching item below BaseDir. Throws EZipException 13 when
  // closed; per-item failures go to OnProcessFileFailure (or its dialog) and
  // the call returns normally. Other exceptions leave it.
  void ExtractMatching(const std::string& mask = "*.*", std::uint32_t searchAttr = base::faAnyEntry,
                       const std::string& exclusionMask = "");
  // Marks the matching items (clearing older marks).
  void MarkMatching(const std::string& mask, std::uint32_t searchAttr,
                    const std::string& exclusionMask);
  // Runs one batch over the marked items under the process-wide lock.
  void ProcessMarkedItems(TZipProcessOperation operation);
  // Writes item `index` as `name` below `destFolder`, dated with the item's
  // true modification time (ModificationTime in ZipExtraFields.h); the
  // overwrite modes, OnConfirmOverwrite's handler and the item's DosDate
  // and DosTime keep to the stored DOS date-time. Throws EZipException
  // (19 with the name escaped when the name to be written holds a control
  // character, or when a stored name leaves the folder).
  void ExtractItem(int index, const std::string& name, const std::string& destFolder);
  // Decodes item `index` into `output`. Throws EZipException 16 for a bad
  // index, 8 when the data fails verification (unless cancelled, skipped or
  // ExtractCorruptedFiles).
  void ExtractItemToStream(int index, base::TStream& output);
  // Decodes item `index` into `output` and verifies it; false when the data
  // fails, the output falls short or the entry was skipped at the password
  // request (SkipFile() then true). Throws EZipException 55 for Deflate64,
  // 64 for another method it does not decode.
  bool DecodeEntry(int index, base::TStream& output);

  // ---- Batch state ----
  int ProcessedCount() const { return processed_; }
  int SelectedCount() const { return selected_; }
  bool Cancelled() const { return cancel_; }
  bool SkipFile() const { return skipFile_; }

  // ---- Volumes ----
  // Makes a volume the archive stream. Throws EZipException 45 when a volume
  // request is cancelled, the stream's open error for a file it cannot open.
  void OpenVolume(const TZipVolumeNumberInfo& volume);
  // The file name of volume `index` (-1: the last) of the archive `name`.
  void VolumeFileName(std::string& name, int index, bool tryBoth);
  void DetectVolumeLayout();
  const std::string& CurrentVolumeName() const { return volumeName_; }

  // The current archive stream, borrowed. Throws EZipException 13 when none.
  base::TStream& ArchiveStream();
  // The directory manager while open (borrowed), else null.
  TZipDirManager* DirManager() { return manager_.get(); }
  bool TolerantOpen() const { return tolerantOpen_; }

 protected:
  // ---- Dispatchers: the event when assigned, else the default ----
  virtual void UpdateCompressionMethod() { method_ = -1; }
  virtual void NotifyOverallProgress(TZipProcessOperation op, TZipProgressPhase phase, bool& cancel,
                                     double progress);
  virtual void NotifyFileProgress(const std::string& fileName, TZipProcessOperation op,
                                  bool& cancel, TZipProgressPhase phase, double progress);
  virtual void NotifyCopyTempFileProgress(TZipProgressPhase phase, bool& cancel, double progress);
  virtual void AskOverwrite(const std::string& source, std::string& dest, bool& confirm);
  virtual void AskProcessFile(const std::string& fileName, TZipProcessOperation op, bool& confirm);
  virtual void AskPassword(const std::string& fileName, std::string& password, bool& skip);
  virtual void HandleFileFailure(const std::string& fileName, TZipProcessOperation op,
                                 int nativeError, int errorCode, const std::string& message,
                                 TZipAction& action);
  virtual void RequestBlankVolume(int index, std::string& name, bool& cancel);
  virtual void RequestFirstVolume(std::string& name, bool& cancel);
  virtual void RequestLastVolume(std::string& name, bool& cancel);
  virtual void RequestMiddleVolume(int index, std::string& name, bool& cancel);
  virtual void HandleDiskFull(int index, const std::string& name, bool& cancel);
  virtual void NotifyExtractFile(std::string& fileName, std::uint32_t& attributes,
                                 const std::string& comment);

  int method_ = -1;

 private:
  friend class TZipDecoder;
  bool Scan(TZipArchiveItem& item);
  // Whether item `d` passes the find state `s` (folder, masks, attributes).
  bool Accepts(const TDirItem& d, const TInternalSearchRec& s, const std::string& maskFolder) const;
  void Fill(int index, TZipArchiveItem& item);
  void PlainProbe(bool removableTest = true);
  void SfxProbe();
  void OpenStream(const std::string& path, int mode);
  bool SelfExtracting() const;
  void ReportDecodeProgress();

  TZipCompressionLevel level_ = clFastest;
  int mode_ = 1;
  TZipSpanningMode spanning_ = smNone;
  bool inMemory_ = false;

  bool open_ = false;
  std::unique_ptr<base::TStream> stream_;
  bool callerStream_ = false;
  int openMode_ = 0;
  std::string volumeName_;
  TZipVolumeNumberInfo volume_;
  std::unique_ptr<TZipDirManager> manager_;
  bool tolerantOpen_ = true;

  // Batch state.
  int processed_ = 0;
  int selected_ = 0;
  bool cancel_ = false;
  bool progress_ = false;
  bool skipFile_ = false;
  std::int64_t itemDone_ = 0;
  std::int64_t itemTotal_ = 0;
  std::string itemName_;
  TZipProcessOperation itemOp_ = poExtract;
  std::string defaultFolder_;
  TZipFolderStamps* folderStamps_ = nullptr;  // the running batch's, borrowed
};

}  // namespace krevo::archive
