#pragma once
// Decodes one entry: reads its local header, checks the password, decrypts,
// inflates (or copies) chunk by chunk into an output stream, and verifies the
// byte count and CRC-32 against the central directory. Lives for one call of
// TZipBaseArchiver::DecodeEntry; owns its buffers and zlib stream.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/ZipCryptKeys.h"
#include "archive/ZipRecords.h"
#include "archive/ZipTypes.h"

namespace krevo::base {
class TStream;
}

namespace krevo::archive {

class TZipBaseArchiver;

class TZipDecoder final {
 public:
  // `archiver` and `output` are borrowed for the decoder's life; the
  // archive stream must stand at the entry's local header.
  TZipDecoder(TZipBaseArchiver& archiver, const TDirItem& item, base::TStream& output);
  TZipDecoder(const TZipDecoder&) = delete;
  TZipDecoder& operator=(const TZipDecoder&) = delete;

  // True when the data decoded and verified. False for damaged or missing
  // data, an item with no CRC and sizes to check against (rebuilt without
  // its data descriptor), a short write, output beyond the declared size,
  // a block container that fails, or a password request answered with skip.
  // Throws EZipException 55 for Deflate64, 64 (naming the method) for any
  // other method it does not decode, and 45 when a volume request is
  // cancelled.
  bool Run();

  // The largest input chunk; 1 MB unless a test sets another (0 restores).
  static void SetChunkLimit(std::size_t bytes);
  // The input chunk for `n` bytes left of an entry: at most the limit,
  // halved while at least 512 bytes and the output estimate reaches a
  // twentieth of `availableMemory`.
  static std::size_t ChunkSize(std::uint64_t left, std::uint64_t uncompressed,
                               std::uint64_t compressed, std::uint64_t availableMemory);

 private:
  bool Pipeline();
  bool BlockContainer();
  bool CheckPassword();
  // Reads exactly `n` bytes, continuing on the next volume of a multi-volume
  // archive; false at the end of the data.
  bool ReadFull(std::uint8_t* buf, std::size_t n);
  // Counts `n` more output bytes; false beyond the declared size.
  bool Account(std::size_t n);
  // Checksums and writes output; false when the write falls short.
  bool Sink(const std::uint8_t* data, std::size_t n);
  bool Emit(const std::uint8_t* data, std::size_t n) { return Account(n) && Sink(data, n); }
  bool Progress();

  TZipBaseArchiver& zip_;
  const TDirItem& item_;
  base::TStream& out_;
  TLocalHeader local_{};
  bool encrypted_;
  TZipCryptKeys keys_;
  std::int64_t dataPos_ = 0;  // stream position of the entry's data
  std::array<std::uint8_t, 4096> pre_;  // bytes read ahead from the local header on
  std::size_t preLen_ = 0, preOff_ = 0;
  std::uint64_t toRead_ = 0;
  std::uint64_t consumed_ = 0;
  std::uint64_t produced_ = 0;
  std::uint32_t crc_ = 0xFFFFFFFF;
  std::uint64_t memory_ = 0;
};

}  // namespace krevo::archive
