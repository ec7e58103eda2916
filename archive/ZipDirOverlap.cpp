// The overlap check of TZipDirManager: no two items may take their data
// from the same bytes. Without it a small archive whose directory names one
// local header many times (or points into another entry's data) expands to
// any size, each item within its declared size.
#include <algorithm>
#include <limits>
#include <vector>

#include "archive/ZipBaseArchiver.h"
#include "archive/ZipDirManager.h"
#include "archive/ZipException.h"
#include "base/Streams.h"

namespace krevo::archive {
namespace {

// Where one item's extraction starts reading: its volume, its local
// header's position, and the item.
struct Start {
  std::int64_t disk;
  std::uint64_t offset;
  int index;
};

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

// Reads local headers at rising positions through a small window: the
// headers of an archive of small entries come dozens to a read, those of
// large entries one to a read of a page.
class LocalHeaderWindow {
 public:
  explicit LocalHeaderWindow(base::TStream& stream) : stream_(stream), size_(stream.Size()) {}

  // The size of the local header at `at` with its name and extra field, as
  // the decoder will skip it; 0 when the file holds no header there.
  std::uint64_t HeaderSize(std::uint64_t at) {
    const auto size = static_cast<std::uint64_t>(size_);
    if (at >= size || size - at < TLocalHeader::kSize) return 0;
    if (at < start_ || at + TLocalHeader::kSize > start_ + length_) {
      start_ = at;
      length_ = std::min<std::uint64_t>(sizeof buffer_, size - at);
      stream_.SetPosition(static_cast<std::int64_t>(at));
      stream_.ReadBuffer(buffer_, static_cast<std::int64_t>(length_));
    }
    ByteCursor c(buffer_ + (at - start_), TLocalHeader::kSize);
    TLocalHeader h;
    h.Parse(c);
    return TLocalHeader::kSize + std::uint64_t{h.nameLength} + h.extraLength;
  }

 private:
  base::TStream& stream_;
  std::int64_t size_;
  std::uint64_t start_ = 0, length_ = 0;
  std::uint8_t buffer_[4096];
};

}  // namespace

void TZipDirManager::CheckOverlaps() {
  // Offsets count within their volume; a single file has one, whatever the
  // items' disk fields say (the decoder never leaves it).
  const bool volumes = archiver_.SpanningMode() != smNone;
  std::vector<Start> starts;
  starts.reserve(static_cast<std::size_t>(items_.UsedCount()));
  for (int i = 0; i < items_.UsedCount(); ++i) {
    const TDirItem& item = items_.ItemPtr(i);
    // A folder never writes its data (and a stub in front leaves its offset
    // as stored, pointing anywhere).
    if (item.IsFolder()) continue;
    starts.push_back({volumes ? ItemDisk(item) : 0, item.LocalOffset(), i});
  }
  std::sort(starts.begin(), starts.end(), [](const Start& a, const Start& b) {
    return a.disk != b.disk ? a.disk < b.disk : a.offset < b.offset;
  });
  // The open leaves the stream where reading the directory left it.
  base::TStream& stream = Stream();
  const std::int64_t position = stream.Position();
  LocalHeaderWindow window(stream);
  std::int64_t disk = -1;
  std::uint64_t reach = 0;  // the furthest end of an item so far on this disk
  for (const Start& s : starts) {
    if (s.disk != disk) disk = s.disk, reach = 0;
    if (s.offset < reach) {
      items_.ClearItems();
      throw EZipException(63);
    }
    const TDirItem& item = items_.ItemPtr(s.index);
    // The local header says how far behind it the data starts. Volumes are
    // not opened for that: their items count the header and the name the
    // directory gives, less than the header with its extra field holds.
    std::uint64_t header = volumes ? 0 : window.HeaderSize(s.offset);
    if (header == 0) header = TLocalHeader::kSize + item.header.nameLength;
    reach = std::max(reach, SaturatingAdd(SaturatingAdd(s.offset, header), item.CompressedSize()));
  }
  stream.SetPosition(position);
}

}  // namespace krevo::archive
