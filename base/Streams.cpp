#include "base/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Errors.h"

namespace krevo::base {
namespace {

std::int64_t NewPosition(std::int64_t pos, std::int64_t size, std::int64_t offset,
                         TSeekOrigin origin) {
  std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
                      : origin == TSeekOrigin::soCurrent ? pos
                                                         : size;
  if (offset < 0 ? base < -offset : false) throw EStreamError("Invalid stream position");
  return base + offset;
}

}  // namespace

std::int64_t TStream::Size() {
  std::int64_t pos = Position();
  std::int64_t end = Seek(0, TSeekOrigin::soEnd);
  SetPosition(pos);
  return end;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  auto* p = static_cast<std::uint8_t*>(buffer);
  while (count > 0) {
    std::int64_t n = Read(p, count);
    if (n <= 0) throw EReadError();
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  while (count > 0) {
    std::int64_t n = Write(p, count);
    if (n <= 0) throw EWriteError();
    p += n;
    count -= n;
  }
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::int64_t>(count, 65536)));
  std::int64_t done = 0;
  while (done < count) {
    std::int64_t n = std::min<std::int64_t>(count - done, static_cast<std::int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    done += n;
  }
  return done;
}

TFileStream::TFileStream(const std::string& path, unsigned mode) : path_(path) {
  int flags = O_CLOEXEC | O_NOCTTY;
  if (mode == fmCreate)
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  else if ((mode & 3) == fmOpenWrite)
    flags |= O_WRONLY;
  else if ((mode & 3) == fmOpenReadWrite)
    flags |= O_RDWR;
  else
    flags |= O_RDONLY;
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    std::string reason = std::strerror(errno);
    if (mode == fmCreate) throw EFCreateError("Cannot create file \"" + path + "\". " + reason);
    throw EFOpenError("Cannot open file \"" + path + "\". " + reason);
  }
  fd_.Reset(fd);
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    fd_.Reset();
    throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(EISDIR));
  }
}

TFileStream::TFileStream(UniqueFd fd, std::string displayName)
    : path_(std::move(displayName)), fd_(std::move(fd)) {
  struct stat st;
  int error = 0;
  if (!fd_)
    error = EBADF;
  else if (::fstat(fd_.get(), &st) != 0)
    error = errno;
  else if (S_ISDIR(st.st_mode))
    error = EISDIR;
  if (error) {
    fd_.Reset();
    throw EFOpenError("Cannot open file \"" + path_ + "\". " + std::strerror(error));
  }
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  while (true) {
    ssize_t n = sequential_ ? ::read(fd_.get(), buffer, static_cast<std::size_t>(count))
                            : ::pread(fd_.get(), buffer, static_cast<std::size_t>(count), pos_);
    if (n >= 0) {
      pos_ += n;
      return n;
    }
    if (errno == ESPIPE && !sequential_) {
      sequential_ = true;
      continue;
    }
    if (errno != EINTR) throw EReadError();
  }
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  while (true) {
    ssize_t n = sequential_ ? ::write(fd_.get(), buffer, static_cast<std::size_t>(count))
                            : ::pwrite(fd_.get(), buffer, static_cast<std::size_t>(count), pos_);
    if (n >= 0) {
      pos_ += n;
      return n;
    }
    if (errno == ESPIPE && !sequential_) {
      sequential_ = true;
      continue;
    }
    if (errno != EINTR) throw EWriteError(errno);
  }
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  if (sequential_) {
    // A pipe knows no position; asking for it answers what went through.
    if (offset == 0 && origin == TSeekOrigin::soCurrent) return pos_;
    throw EStreamError("Invalid stream position");
  }
  std::int64_t base = pos_;
  if (origin == TSeekOrigin::soBeginning) {
    base = 0;
  } else if (origin == TSeekOrigin::soEnd) {
    struct stat st;
    if (::fstat(fd_.get(), &st) != 0) throw EStreamError("Invalid stream position");
    base = st.st_size;
  }
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0)
    throw EStreamError("Invalid stream position");
  pos_ = base + offset;
  return pos_;
}

void TFileStream::SetSize(std::int64_t size) {
  std::int64_t pos = Position();
  if (::ftruncate(fd_.get(), size) != 0) throw EWriteError();
  if (pos > size) SetPosition(size);
}

void TFileStream::Flush() {
  if (::fsync(fd_.get()) != 0 && errno != EINVAL) throw EWriteError();
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  std::int64_t size = Size();
  if (count <= 0 || pos_ >= size) return 0;
  std::int64_t n = std::min(count, size - pos_);
  std::memcpy(buffer, data_.data() + pos_, static_cast<std::size_t>(n));
  pos_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (pos_ + count > Size()) data_.resize(static_cast<std::size_t>(pos_ + count));
  std::memcpy(data_.data() + pos_, buffer, static_cast<std::size_t>(count));
  pos_ += count;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  pos_ = NewPosition(pos_, Size(), offset, origin);
  return pos_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(size));
  pos_ = std::min(pos_, size);
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  TFileStream file(path, fmOpenRead);
  std::int64_t size = file.Size();
  data_.resize(static_cast<std::size_t>(size));
  pos_ = 0;
  if (size > 0) file.ReadBuffer(data_.data(), size);
}

std::int64_t TNullStream::Write(const void*, std::int64_t count) {
  if (count <= 0) return 0;
  pos_ += count;
  size_ = std::max(size_, pos_);
  return count;
}

std::int64_t TNullStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  pos_ = NewPosition(pos_, size_, offset, origin);
  return pos_;
}

void TNullStream::SetSize(std::int64_t size) {
  size_ = size;
  pos_ = std::min(pos_, size);
}

}  // namespace krevo::base
