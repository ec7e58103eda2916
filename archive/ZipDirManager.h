#pragma once
// The reader of one archive's directory: finds the end record (and the Zip64
// records), reads every central header into the item array, detects a prefix
// in front of the first local header and corrects the offsets, and rebuilds
// the items from local headers when the directory is missing or damaged.
// Every length, count and offset read from the file is checked against the
// bytes the file holds before it is used.
#include <cstdint>
#include <string>
#include <vector>

#include "archive/ZipDirArray.h"
#include "archive/ZipRecords.h"

namespace krevo::base {
class TStream;
}

namespace krevo::archive {

class TZipBaseArchiver;

class TZipDirManager final {
 public:
  // `archiver` is borrowed and must outlive the manager; the manager reads
  // through the archiver's current archive stream, which may change while
  // volumes are switched.
  TZipDirManager(TZipBaseArchiver& archiver, bool createNew);
  TZipDirManager(const TZipDirManager&) = delete;
  TZipDirManager& operator=(const TZipDirManager&) = delete;

  // Finds the end record in the last 65600 bytes; on success stores it and
  // the archive comment and returns true with its position, else -1 and false.
  // Throws the stream's read error when the stream fails.
  bool LocateEndRecord(std::int64_t& position);
  // Fills the items. Throws EZipException 35 (no local header in a rebuild),
  // 40 (Zip64 locator without its record), 44 (rebuild of a multi-volume
  // archive), 45 (a volume request cancelled), 63 (two items would read the
  // same bytes: the items are then cleared) and the stream's errors from the
  // rebuild. A damaged directory is rebuilt rather than reported.
  void ReadCentralDir();

  TZipDirArray& Items() { return items_; }
  const TEndRecord& EndRecord() const { return end_; }
  const TZip64Locator& Zip64Locator() const { return locator_; }
  const TZip64EndRecord& Zip64EndRecord() const { return zip64End_; }
  bool IsZip64() const { return isZip64_; }
  std::int64_t PrefixLength() const { return prefixLength_; }
  std::int64_t CentralDirStart() const { return centralDirStart_; }
  // Whether ReadCentralDir rebuilt the items from local headers because the
  // directory was missing or damaged.
  bool Rebuilt() const { return rebuilt_; }
  const std::string& Comment() const { return comment_; }
  // The last volume's number: the end record's disk number (0xFFFF: the
  // locator's total disks - 1 when Zip64, else 0).
  std::int32_t LastDisk() const;
  // The volume holding an item's local header.
  std::int32_t ItemDisk(const TDirItem& item) const;
  // A stored name as UTF-8: as stored with flag bit 11; for an entry made
  // outside DOS and Windows, the name of a matching Unicode Path block in
  // `extra`, else (made on Unix or macOS) the stored name when it is valid
  // UTF-8; else converted from CP437 as the options say.
  std::string ConvertName(const std::uint8_t* bytes, std::size_t size, std::uint16_t flags,
                          std::uint16_t versionMadeBy, const std::vector<TExtraBlock>& extra) const;

 private:
  base::TStream& Stream();
  void ReadItems();
  // Throws EZipException 63 when the local header and data of one item
  // that is not a folder overlap another's on the same volume.
  void CheckOverlaps();
  void ReadEntries(std::int64_t workingPos);
  void ParseEntries(const std::uint8_t* data, std::size_t size, std::int64_t startPos,
                    std::uint64_t count);
  void DetectPrefix(std::int64_t endPos);
  // Whether the local header `h` at `at` declares the sizes of `item`,
  // reading them from its Zip64 block where it holds the markers.
  bool SameLocalSizes(std::int64_t at, const TLocalHeader& h, const TDirItem& item);
  void Rebuild();
  // First position >= from of a 4-byte signature with at least `minAfter`
  // bytes from it to the end, searched in chunks; -1 when none.
  std::int64_t FindSignature(std::int64_t from, std::uint32_t sig, std::size_t chunk,
                             std::int64_t minAfter);

  TZipBaseArchiver& archiver_;
  TZipDirArray items_;
  TEndRecord end_;
  TZip64Locator locator_;
  TZip64EndRecord zip64End_;
  bool isZip64_ = false;
  bool rebuilt_ = false;
  std::int64_t endPos_ = -1;
  std::int64_t prefixLength_ = 0;
  std::int64_t centralDirStart_ = 0;
  std::string comment_;
};

}  // namespace krevo::archive
