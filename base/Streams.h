#pragma once
// Byte streams with read, write, seek and size: over files, over memory, and a
// null stream that counts and discards what is written.
#include <cstdint>
#include <string>
#include <vector>

#include "base/FileDescriptor.h"

namespace krevo::base {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to `count` bytes into `buffer`; returns how many were read (0 at
  // the end). Throws EReadError when the medium fails.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes up to `count` bytes; returns how many were written. Throws
  // EWriteError when the medium fails.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Moves the position; returns the new one. Throws EStreamError when the
  // position would be negative.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  // Sets the size; the position is kept, or moved back to the new end.
  virtual void SetSize(std::int64_t size) = 0;

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  virtual std::int64_t Size();

  // Reads exactly `count` bytes or throws EReadError.
  void ReadBuffer(void* buffer, std::int64_t count);
  // Writes exactly `count` bytes or throws EWriteError.
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies `count` bytes from `source`'s position; a count of 0 copies the
  // whole of `source` from its start. Returns the bytes copied; throws
  // EReadError when `source` ends early.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// File open modes.
enum TFileMode : unsigned {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmCreate = 0xFFFF,  // create, or empty an existing file; read and write
};

// A stream over an open file, which it owns and closes. It keeps its own
// position and reads and writes at it (pread, pwrite), so that a seek costs
// no system call; a file that cannot seek (a pipe) is read and written in
// order instead.
class TFileStream final : public TStream {
 public:
  // Throws EFCreateError "Cannot create file \"<path>\". <reason>" for fmCreate,
  // EFOpenError "Cannot open file \"<path>\". <reason>" otherwise.
  TFileStream(const std::string& path, unsigned mode);
  // Takes an open descriptor (owned from here on, closed by the stream) and
  // reads and writes it from offset 0; `displayName` names it in FileName and
  // messages and is never opened. Throws EFOpenError for an empty descriptor
  // or a folder.
  TFileStream(UniqueFd fd, std::string displayName);
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  // Writes the file's data through to the disk (fsync). Throws EWriteError.
  void Flush();
  const std::string& FileName() const { return path_; }
  // The descriptor, still owned by the stream.
  int Handle() const { return fd_.get(); }

 private:
  std::string path_;
  UniqueFd fd_;
  std::int64_t pos_ = 0;
  bool sequential_ = false;  // the descriptor cannot seek
};

// A stream over a growable block of memory that it owns.
class TMemoryStream final : public TStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  const std::vector<std::uint8_t>& Bytes() const { return data_; }
  std::string AsString() const { return std::string(data_.begin(), data_.end()); }
  // Reads a whole file into the stream. Throws EFOpenError or EReadError.
  void LoadFromFile(const std::string& path);

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t pos_ = 0;
};

// Discards what is written and counts it as its size; reads nothing.
class TNullStream final : public TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;

 private:
  std::int64_t size_ = 0;
  std::int64_t pos_ = 0;
};

}  // namespace krevo::base
