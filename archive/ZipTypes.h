#pragma once
// Records and enumerations shared across the archive component: the central
// directory item `TDirItem`, the public item record `TZipArchiveItem` with its
// find state, and the component's enumerated settings.
#include <cstdint>
#include <string>
#include <vector>

namespace krevo::archive {

enum TZipCompressionLevel { clNone, clFastest, clNormal, clMax };
enum TZipSpanningMode { smNone, smSpanning, smSplitting };
enum TZipStorePathMode { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
enum TZipFileShareMode {
  smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone
};
enum TZipOverwriteMode { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
enum TZip64Mode { zmDisabled, zmAuto, zmAlways };
enum TZipVolumeSize {
  vsAutoDetect, vsCustom, vs1_44MB, vs100MB, vs200MB, vs250MB, vs600MB, vs650MB, vs700MB,
  vs4700MB
};
enum TZipProcessOperation {
  poAdd, poMove, poDelete, poUpdate, poExtract, poTest, poRename, poChangeAttr,
  poChangeComment, poMakeSFX
};
enum TZipProgressPhase { ppStart, ppProcess, ppEnd };
enum TZipAction { fxaRetry, fxaIgnore, fxaAbort };

// Record signatures.
constexpr std::uint32_t kLocalHeaderSig = 0x04034B50;
constexpr std::uint32_t kCentralHeaderSig = 0x02014B50;
constexpr std::uint32_t kEndRecordSig = 0x06054B50;
constexpr std::uint32_t kZip64LocatorSig = 0x07064B50;
constexpr std::uint32_t kZip64EndSig = 0x06064B50;
constexpr std::uint32_t kDataDescriptorSig = 0x08074B50;

constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrArchive = 0x20;

// The 46-byte fixed part of a central directory file header, as read.
struct TCentralHeader {
  std::uint32_t signature = 0;
  std::uint16_t versionMadeBy = 0;
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
  std::uint16_t commentLength = 0;
  std::uint16_t diskStart = 0;
  std::uint16_t internalAttributes = 0;
  std::uint32_t externalAttributes = 0;
  std::uint32_t localOffset = 0;
};

struct TExtraBlock {
  std::uint16_t headerId = 0;
  std::vector<std::uint8_t> data;  // owned copy of the block's data
};

// One central directory entry with what was read after its fixed part.
struct TDirItem {
  TCentralHeader header;
  std::string name;  // stored name after conversion, '/' separators
  std::string comment;
  std::vector<TExtraBlock> extra;
  bool hasZip64 = false;
  std::uint64_t zip64Uncompressed = 0;
  std::uint64_t zip64Compressed = 0;
  std::uint64_t zip64LocalOffset = 0;
  std::uint32_t zip64DiskStart = 0;
  bool marked = false;  // selected by the current batch
  // Rebuilt from a local header that defers its CRC and sizes to a data
  // descriptor that is not there: nothing to verify the data against.
  bool unverifiable = false;
  TZipProcessOperation operation = poExtract;

  // The 64-bit values: the Zip64 field where the 32-bit field holds its marker.
  std::uint64_t CompressedSize() const {
    return header.compressedSize == 0xFFFFFFFF ? zip64Compressed : header.compressedSize;
  }
  std::uint64_t UncompressedSize() const {
    return header.uncompressedSize == 0xFFFFFFFF ? zip64Uncompressed : header.uncompressedSize;
  }
  std::uint64_t LocalOffset() const {
    return header.localOffset == 0xFFFFFFFF ? zip64LocalOffset : header.localOffset;
  }
  std::uint32_t DosDateTime() const {
    return std::uint32_t{header.date} << 16 | header.time;
  }
  bool IsFolder() const {
    return (header.externalAttributes & kAttrDirectory) || (!name.empty() && name.back() == '/');
  }
};

// The state of one find, kept in the caller's item record so that several
// finds can run side by side.
struct TInternalSearchRec {
  std::int32_t index = 0;
  std::string mask;  // '/' separators, at most 259 characters
  bool hasWildcards = false;
  std::uint32_t searchAttr = 0;
  std::string exclusionMask;
  bool useMaskLists = false;
};

// The public item record that a find fills.
struct TZipArchiveItem {
  std::string ItemName;    // own name (a folder's own name for a folder entry)
  std::string ItemFolder;  // the folder part up to and including the last '/'
  std::int64_t PackedSize = 0;
  std::int64_t UnpackedSize = 0;
  double PackRatio = 0;
  bool IsEncrypted = false;
  std::uint16_t DosDate = 0;
  std::uint16_t DosTime = 0;
  std::uint32_t Crc = 0;
  std::uint32_t Attributes = 0;
  std::string Remark;
  TInternalSearchRec SearchState;
};

}  // namespace krevo::archive
