#include "archive/ZipDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "archive/ZipBaseArchiver.h"
#include "archive/ZipDirManager.h"
#include "archive/ZipException.h"
#include "archive/ZipHost.h"
#include "archive/ZipWorker.h"
#include "base/Crc32.h"
#include "base/Errors.h"
#include "base/Streams.h"

namespace krevo::archive {
namespace {

// The methods the format defines besides stored, deflate and Deflate64;
// null for any other number.
const char* KnownMethodName(std::uint16_t method) {
  switch (method) {
    case 1:
      return "Shrink";
    case 2:
    case 3:
    case 4:
    case 5:
      return "Reduce";
    case 6:
      return "Implode";
    case 10:
      return "PKWARE DCL Implode";
    case 12:
      return "BZip2";
    case 14:
      return "LZMA";
    case 16:
      return "IBM z/OS CMPSC";
    case 18:
      return "IBM TERSE";
    case 19:
      return "IBM LZ77";
    case 20:
    case 93:
      return "zstd";
    case 94:
      return "MP3";
    case 95:
      return "xz";
    case 96:
      return "JPEG";
    case 97:
      return "WavPack";
    case 98:
      return "PPMd";
    case 99:
      return "AES";
    default:
      return nullptr;
  }
}

constexpr std::size_t kDefaultChunk = 1 << 20;
constexpr std::size_t kOutputStep = 1 << 20;
std::size_t gChunkLimit = kDefaultChunk;

// The available memory, read again at most once a second: reading it for
// each of many small entries would cost more than decoding them.
std::uint64_t CachedAvailableMemory() {
  static std::uint64_t value = 0;
  static std::chrono::steady_clock::time_point taken;
  auto now = std::chrono::steady_clock::now();
  if (value == 0 || now - taken > std::chrono::seconds(1)) {
    value = AvailablePhysicalMemory();
    taken = now;
  }
  return value;
}

// Owns one zlib inflate stream.
class Inflater {
 public:
  explicit Inflater(int windowBits) { ok_ = inflateInit2(&z_, windowBits) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&z_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  bool Ok() const { return ok_; }
  z_stream* operator->() { return &z_; }
  z_stream* get() { return &z_; }

 private:
  z_stream z_{};
  bool ok_ = false;
};

// The worker publishes its progress through a chunk after a first piece of
// kFirstSlice bytes, then after pieces that double up to kSlice: the
// inflating thread starts early, and a waiting one is woken rarely.
constexpr std::size_t kSlice = 64 << 10;
constexpr std::size_t kFirstSlice = 4 << 10;

// A buffer that the thread keeps between entries: allocating (and having the
// kernel clear) a megabyte or two for each of thousands of entries cost more
// than writing them out. A decoder run from another's event, on the same
// thread, gets a buffer of its own.
class CachedBuffer {
 public:
  enum TSlot { bsInput, bsOutput, bsSecondOutput, bsCount };
  CachedBuffer(TSlot slot, std::size_t size) {
    thread_local Slot slots[bsCount];
    Slot& s = slots[slot];
    if (s.busy) {
      own_ = std::make_unique_for_overwrite<std::uint8_t[]>(size);
      data_ = own_.get();
      return;
    }
    if (s.size < size) {
      s.data.reset();  // the old one goes before the new one comes
      s.data = std::make_unique_for_overwrite<std::uint8_t[]>(size);
      s.size = size;
    }
    s.busy = true;
    busy_ = &s.busy;
    data_ = s.data.get();
  }
  ~CachedBuffer() {
    if (busy_) *busy_ = false;
  }
  CachedBuffer(const CachedBuffer&) = delete;
  CachedBuffer& operator=(const CachedBuffer&) = delete;
  std::uint8_t* get() const { return data_; }

 private:
  struct Slot {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
    bool busy = false;
  };
  std::unique_ptr<std::uint8_t[]> own_;
  std::uint8_t* data_ = nullptr;
  bool* busy_ = nullptr;
};

// Holds the worker for one entry, when it is free and wanted.
class WorkerLease {
 public:
  explicit WorkerLease(bool wanted)
      : worker_(wanted && TZipWorker::Instance().TryAcquire() ? &TZipWorker::Instance() : nullptr) {
  }
  ~WorkerLease() {
    if (worker_) {
      worker_->Wait();
      worker_->Release();
    }
  }
  WorkerLease(const WorkerLease&) = delete;
  WorkerLease& operator=(const WorkerLease&) = delete;
  explicit operator bool() const { return worker_ != nullptr; }
  TZipWorker* operator->() const { return worker_; }

 private:
  TZipWorker* worker_;
};

}  // namespace

void TZipDecoder::SetChunkLimit(std::size_t bytes) {
  gChunkLimit = bytes ? bytes : kDefaultChunk;
}

std::size_t TZipDecoder::ChunkSize(std::uint64_t left, std::uint64_t uncompressed,
                                   std::uint64_t compressed, std::uint64_t availableMemory) {
  std::uint64_t n = std::min<std::uint64_t>(gChunkLimit, left);
  auto estimate = [&](std::uint64_t c) {
    std::uint64_t ratio = compressed ? uncompressed / compressed : 0;
    double e = static_cast<double>(((ratio + 1) * (c + c / 2 + 267)) & ~std::uint64_t{0xFF});
    return e > 0 ? std::exp2(std::round(std::log2(e))) : 0.0;
  };
  while (n >= 512 && availableMemory && estimate(n) >= availableMemory / 20.0) n /= 2;
  return static_cast<std::size_t>(n);
}

TZipDecoder::TZipDecoder(TZipBaseArchiver& archiver, const TDirItem& item, base::TStream& output)
    : zip_(archiver), item_(item), out_(output), encrypted_(item.header.flags & 1) {}

bool TZipDecoder::ReadFull(std::uint8_t* buf, std::size_t n) {
  if (n == 0) return true;
  if (preOff_ < preLen_) {
    std::size_t take = std::min(n, preLen_ - preOff_);
    std::memcpy(buf, pre_.data() + preOff_, take);
    preOff_ += take;
    buf += take;
    n -= take;
  }
  while (n > 0) {
    std::int64_t got = zip_.ArchiveStream().Read(buf, static_cast<std::int64_t>(n));
    if (got > 0) {
      buf += got;
      n -= static_cast<std::size_t>(got);
      continue;
    }
    // The data goes on at the start of the next volume.
    TZipDirManager* m = zip_.DirManager();
    const TZipVolumeNumberInfo& v = zip_.volume_;
    if (zip_.SpanningMode() == smNone || !m || v.VolumeNumber < 0 ||
        v.VolumeNumber >= m->LastDisk())
      return false;
    zip_.OpenVolume(TZipVolumeNumberInfo::Numbered(v.VolumeNumber + 1, m->LastDisk()));
    zip_.ArchiveStream().SetPosition(0);
  }
  return true;
}

bool TZipDecoder::Account(std::size_t n) {
  // Output beyond the declared size can only be damage or a bomb: stop now
  // rather than fill the disk.
  if (n > item_.UncompressedSize() - std::min(produced_, item_.UncompressedSize())) return false;
  produced_ += n;
  return true;
}

bool TZipDecoder::Sink(const std::uint8_t* data, std::size_t n) {
  crc_ = base::UpdateCrc32(crc_, data, n);
  return out_.Write(data, static_cast<std::int64_t>(n)) == static_cast<std::int64_t>(n);
}

bool TZipDecoder::Progress() {
  zip_.itemDone_ = static_cast<std::int64_t>(consumed_);
  zip_.ReportDecodeProgress();
  return !zip_.cancel_;
}

bool TZipDecoder::Run() {
  if (item_.unverifiable) return false;
  try {
    base::TStream& s = zip_.ArchiveStream();
    const std::int64_t headerPos = static_cast<std::int64_t>(item_.LocalOffset());
    if (zip_.SpanningMode() == smNone) {
      // One read takes the header, its name and extra field and, for small
      // entries, the data too: archives of many tiny files are read in half
      // the calls.
      std::int64_t got = s.Read(pre_.data(), static_cast<std::int64_t>(pre_.size()));
      preLen_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    std::uint8_t raw[TLocalHeader::kSize];
    if (!ReadFull(raw, sizeof raw)) return false;
    ByteCursor c(raw, sizeof raw);
    local_.Parse(c);
    const std::size_t skip = std::size_t{local_.nameLength} + local_.extraLength;
    if (preLen_ && preLen_ - preOff_ >= skip) {
      preOff_ += skip;
      dataPos_ = headerPos + static_cast<std::int64_t>(preOff_);
    } else {
      // Seek returns the new position, which the password check and the
      // central directory bound both need.
      dataPos_ =
          s.Seek(static_cast<std::int64_t>(skip) - static_cast<std::int64_t>(preLen_ - preOff_),
                 base::TSeekOrigin::soCurrent);
      preOff_ = preLen_ = 0;
    }
    toRead_ = item_.CompressedSize();
    TZipDirManager* m = zip_.DirManager();
    if (zip_.SpanningMode() == smNone && m) {
      std::int64_t pos = dataPos_, end = m->CentralDirStart();
      if (pos + static_cast<std::int64_t>(std::min<std::uint64_t>(toRead_, INT64_MAX / 2)) > end)
        toRead_ = end > pos ? static_cast<std::uint64_t>(end - pos) : 0;
    }
    zip_.itemTotal_ = static_cast<std::int64_t>(toRead_);
    switch (item_.header.method) {
      case 0:
      case 8:
        if (!Pipeline()) return false;
        break;
      case 9:
        throw EZipException(55);
      default:
        // A method of the format that this component does not decode is
        // said to be one, not passed off as damaged data. Other method
        // numbers may hold the block container.
        if (const char* name = KnownMethodName(item_.header.method))
          throw EZipException::Fmt(64, nullptr, {std::to_string(item_.header.method), name});
        if (item_.header.versionNeeded <= 10)
          throw EZipException::Fmt(64, nullptr, {std::to_string(item_.header.method), "unknown"});
        if (!BlockContainer()) return false;
    }
    return produced_ == item_.UncompressedSize() && ~crc_ == item_.header.crc;
  } catch (const base::EStreamError&) {
    return false;
  }
}

bool TZipDecoder::CheckPassword() {
  base::TStream& s = zip_.ArchiveStream();
  const std::int64_t at = dataPos_;
  const std::uint8_t check = (local_.flags & 0x08) ? static_cast<std::uint8_t>(local_.time >> 8)
                                                   : static_cast<std::uint8_t>(local_.crc >> 24);
  for (bool first = true;; first = false) {
    if (!first) {
      preOff_ = preLen_ = 0;
      s.SetPosition(at);
    }
    std::uint8_t header[12];
    if (!ReadFull(header, sizeof header)) return false;
    keys_.Init(zip_.Password);
    if (keys_.CheckHeader(header, check)) return true;
    zip_.AskPassword(item_.name, zip_.Password, zip_.skipFile_);
    if (zip_.skipFile_) return false;
  }
}

bool TZipDecoder::Pipeline() {
  if (encrypted_) {
    if (toRead_ < 12) return false;
    toRead_ -= 12;
    if (!CheckPassword()) return false;
  }
  const bool deflated = item_.header.method == 8;
  Inflater z(-MAX_WBITS);  // raw deflate: the entry's end is its compressed size
  if (deflated && !z.Ok()) return false;
  // The memory figure only matters once a chunk could be halved.
  memory_ = toRead_ >= 512 ? CachedAvailableMemory() : 0;
  // Buffers are not cleared: every byte is written before it is read. The
  // output never needs more than the declared size (and a little to see
  // that the data goes on).
  const std::size_t inSize =
      static_cast<std::size_t>(std::min<std::uint64_t>(gChunkLimit, toRead_));
  CachedBuffer in(CachedBuffer::bsInput, inSize + 2);
  bool ended = false;
  bool sinkOk = true;
  // Declared before the worker leases, whose ends wait for the last jobs.
  std::optional<CachedBuffer> outs[2];
  std::atomic<std::uint32_t> decrypted{0};  // bytes of the chunk decrypted so far
  std::atomic<bool> halt{false};            // the chunk's decryption is no longer wanted
  // The worker decrypts an encrypted chunk front to back while this thread
  // inflates (and checksums and writes) behind it: decryption is the slower
  // half, and handing the output to a third thread measured slower on two
  // cores. For a plain entry the worker checksums and writes one output
  // block while the next is inflated.
  WorkerLease ahead(toRead_ > kFirstSlice && encrypted_);
  WorkerLease writer(toRead_ > kSlice && deflated && !encrypted_);
  const bool asyncOut = static_cast<bool>(writer);
  const std::size_t outSize = deflated ? static_cast<std::size_t>(std::min<std::uint64_t>(
                                             kOutputStep, item_.UncompressedSize() + 64))
                                       : 0;
  outs[0].emplace(CachedBuffer::bsOutput, outSize);
  if (asyncOut) outs[1].emplace(CachedBuffer::bsSecondOutput, outSize);
  int cur = 0;
  auto emit = [&](std::uint8_t* p, std::size_t n) {
    if (!Account(n)) return false;
    if (!asyncOut) return Sink(p, n);
    writer->Wait();
    if (!sinkOk) return false;
    writer->Start([this, p, n, &sinkOk] { sinkOk = Sink(p, n); });
    cur = 1 - cur;
    return true;
  };
  // Feeds decrypted bytes on: a copy for stored entries, inflate for deflated.
  auto consume = [&](std::uint8_t* p, std::size_t n) {
    if (!deflated) return emit(p, n);
    if (ended) return true;  // bytes after the end of the deflate data are ignored
    z->next_in = p;
    z->avail_in = static_cast<uInt>(n);
    do {
      std::uint8_t* out = outs[cur]->get();
      z->next_out = out;
      z->avail_out = static_cast<uInt>(outSize);
      int r = inflate(z.get(), Z_NO_FLUSH);
      if (r == Z_NEED_DICT || r == Z_DATA_ERROR || r == Z_MEM_ERROR || r == Z_STREAM_ERROR)
        return false;
      bool full = z->avail_out == 0;
      if (!emit(out, outSize - z->avail_out)) return false;
      if (r == Z_STREAM_END) {
        ended = true;
        break;
      }
      if (r == Z_BUF_ERROR) break;
      if (!full && z->avail_in == 0) break;
    } while (true);
    return true;
  };
  while (consumed_ < toRead_) {
    if (zip_.progress_ && !Progress()) break;
    std::size_t n =
        ChunkSize(toRead_ - consumed_, item_.UncompressedSize(), item_.CompressedSize(), memory_);
    if (!ReadFull(in.get(), n)) return false;
    consumed_ += n;
    if (!encrypted_ || !ahead) {
      if (encrypted_) keys_.Decrypt(in.get(), n);
      if (!consume(in.get(), n)) return false;
      continue;
    }
    std::uint8_t* chunk = in.get();
    decrypted.store(0, std::memory_order_relaxed);
    ahead->Start([this, chunk, n, &decrypted, &halt] {
      for (std::size_t pos = 0, piece = kFirstSlice;
           pos < n && !halt.load(std::memory_order_relaxed); piece = std::min(2 * piece, kSlice)) {
        const std::size_t len = std::min(piece, n - pos);
        keys_.Decrypt(chunk + pos, len);
        pos += len;
        decrypted.store(static_cast<std::uint32_t>(pos), std::memory_order_release);
        decrypted.notify_one();
      }
    });
    for (std::size_t off = 0; off < n;) {
      const std::size_t upto = decrypted.load(std::memory_order_acquire);
      if (upto == off) {
        decrypted.wait(static_cast<std::uint32_t>(off), std::memory_order_acquire);
        continue;
      }
      if (!consume(chunk + off, upto - off)) {
        halt = true;
        return false;
      }
      off = upto;
    }
    ahead->Wait();
  }
  if (writer) writer->Wait();
  if (!sinkOk) return false;
  zip_.itemDone_ = static_cast<std::int64_t>(consumed_);
  return consumed_ == toRead_;
}

}  // namespace krevo::archive
