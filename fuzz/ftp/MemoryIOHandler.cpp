#include "fuzz/ftp/MemoryIOHandler.h"

#include <algorithm>
#include <cstring>

#include "ftp/NetExceptions.h"

namespace krevo::ftp::fuzz {

std::int64_t TMemoryIOHandler::Recv(void* buffer, std::int64_t length) {
  if (!open_) throw ENetClosedSocket();
  const std::size_t n = std::min({chunk_, data_.size() - pos_, static_cast<std::size_t>(length)});
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return static_cast<std::int64_t>(n);
}

}  // namespace krevo::ftp::fuzz
