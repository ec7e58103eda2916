#pragma once
// The fixed-size ZIP records, each read from a byte span through ByteCursor.
// A Parse function returns false when the span is shorter than the record; it
// does not check the signature (callers decide what a wrong one means).
#include <cstdint>

#include "archive/ByteCursor.h"
#include "archive/ZipTypes.h"

namespace krevo::archive {

struct TEndRecord {
  static constexpr std::size_t kSize = 22;
  std::uint32_t signature = kEndRecordSig;
  std::uint16_t diskNumber = 0;
  std::uint16_t centralDirDisk = 0;
  std::uint16_t entriesOnDisk = 0;
  std::uint16_t totalEntries = 0;
  std::uint32_t centralDirSize = 0;
  std::uint32_t centralDirOffset = 0;
  std::uint16_t commentLength = 0;
  bool Parse(ByteCursor& c);
};

struct TZip64Locator {
  static constexpr std::size_t kSize = 20;
  std::uint32_t signature = 0;
  std::uint32_t endRecordDisk = 0;
  std::uint64_t endRecordOffset = 0;
  std::uint32_t totalDisks = 0;
  bool Parse(ByteCursor& c);
};

struct TZip64EndRecord {
  static constexpr std::size_t kSize = 56;
  std::uint32_t signature = 0;
  std::uint64_t recordSize = 0;
  std::uint16_t versionMadeBy = 0;
  std::uint16_t versionNeeded = 0;
  std::uint32_t diskNumber = 0;
  std::uint32_t centralDirDisk = 0;
  std::uint64_t entriesOnDisk = 0;
  std::uint64_t totalEntries = 0;
  std::uint64_t centralDirSize = 0;
  std::uint64_t centralDirOffset = 0;
  bool Parse(ByteCursor& c);
};

constexpr std::size_t kCentralHeaderSize = 46;
bool ParseCentralHeader(ByteCursor& c, TCentralHeader& h);

struct TLocalHeader {
  static constexpr std::size_t kSize = 30;
  std::uint32_t signature = 0;
  std::uint16_t versionNeeded = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint16_t time = 0;
  std::uint16_t date = 0;
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t extraLength = 0;
  bool Parse(ByteCursor& c);
};

}  // namespace krevo::archive
