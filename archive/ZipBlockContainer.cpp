// The block container of TZipDecoder: entries of other methods whose version
// needed is above 1.0 hold a 50-byte header and length-prefixed blocks, each
// stored or a whole zlib stream.
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "archive/ByteCursor.h"
#include "archive/ZipBaseArchiver.h"
#include "archive/ZipDecoder.h"

namespace krevo::archive {

bool TZipDecoder::BlockContainer() {
  constexpr std::size_t kHeader = 50;
  if (toRead_ < kHeader) return false;
  std::uint8_t header[kHeader];
  if (!ReadFull(header, kHeader)) return false;
  consumed_ = kHeader;
  ByteCursor c(header, kHeader);
  const std::uint32_t blockSize = c.U32();
  c.Skip(4);
  const std::uint32_t total = c.U32();
  c.Skip(4);
  const std::uint32_t blocks = c.U32();
  const std::uint8_t mustBeZero = c.U8();
  const bool compressed = c.U8() != 0;
  const std::uint16_t cipher = c.U16();
  // Enciphered containers use a cipher this system does not have.
  if (cipher != 0xFFFF) return false;
  const std::uint64_t size =
      item_.header.uncompressedSize == 0xFFFFFFFF ? item_.zip64Uncompressed : total;
  std::vector<std::uint8_t> in, out(1 << 20);
  for (std::uint32_t b = 0; b < blocks; ++b) {
    if (zip_.progress_ && !Progress()) return false;
    std::uint8_t len4[4];
    if (toRead_ - consumed_ < 4 || !ReadFull(len4, 4)) return false;
    consumed_ += 4;
    const std::uint32_t len = LoadU32(len4);
    if (len > toRead_ - consumed_) return false;
    in.resize(len);
    if (!ReadFull(in.data(), len)) return false;
    consumed_ += len;
    const std::uint64_t expected =
        b + 1 == blocks ? size - std::min(size, produced_) : std::uint64_t{blockSize};
    if (!compressed || mustBeZero != 0) {
      if (len != expected || !Emit(in.data(), len)) return false;
      continue;
    }
    // Inflated in steps so that a lying header cannot make a huge buffer.
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = in.data();
    z.avail_in = len;
    std::uint64_t made = 0;
    int r = Z_OK;
    while (r == Z_OK) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      r = inflate(&z, Z_NO_FLUSH);
      std::size_t n = out.size() - z.avail_out;
      made += n;
      if ((r != Z_OK && r != Z_STREAM_END) || made > expected || !Emit(out.data(), n)) {
        inflateEnd(&z);
        return false;
      }
    }
    inflateEnd(&z);
    if (made != expected) return false;
  }
  return true;
}

}  // namespace krevo::archive
