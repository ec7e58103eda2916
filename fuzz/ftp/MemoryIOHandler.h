#pragma once
// An I/O handler that serves fixed bytes in chunks of a chosen size, then the
// peer's close: lets a fuzzer drive the connection's readers without sockets.
#include <cstdint>
#include <string>

#include "ftp/NetIOHandler.h"

namespace krevo::ftp::fuzz {

class TMemoryIOHandler final : public TNetIOHandler {
 public:
  TMemoryIOHandler(std::string data, std::size_t chunk) : data_(std::move(data)), chunk_(chunk ? chunk : 1) {}
  void Open() override { open_ = true; }
  void Close() override { open_ = false; }
  bool Connected() const override { return open_; }
  void ConnectClient(const std::string&, int, const std::string&, int, int, int, int) override { open_ = true; }
  bool Readable(int) override { return true; }
  std::int64_t Recv(void* buffer, std::int64_t length) override;
  std::int64_t Send(const void*, std::int64_t length) override { return length; }

 private:
  std::string data_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
  bool open_ = true;
};

}  // namespace krevo::ftp::fuzz
