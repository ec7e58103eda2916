#include "ftp/NetTCPConnection.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "base/FileSystem.h"
#include "ftp/NetStack.h"
#include "ftp/NetText.h"

namespace krevo::ftp {

TNetTCPConnection::TNetTCPConnection() {
  input_.OnBytesRemoved = [this](std::int64_t n) { AddWork(wmRead, n); };
}

TNetTCPConnection::~TNetTCPConnection() = default;

void TNetTCPConnection::SetIOHandler(TNetIOHandler* handler) {
  if (ownsIOHandler_) {
    ownedHandler_.reset();
    ownsIOHandler_ = false;
  }
  ioHandler_ = handler;
}

void TNetTCPConnection::AdoptIOHandler(std::unique_ptr<TNetIOHandler> handler) {
  SetIOHandler(handler.get());
  handler->OnStatus = OnStatus;
  ownedHandler_ = std::move(handler);
  ownsIOHandler_ = true;
}

TNetSocketHandle* TNetTCPConnection::Binding() const {
  auto* socketHandler = dynamic_cast<TNetIOHandlerSocket*>(ioHandler_);
  return socketHandler ? socketHandler->Binding() : nullptr;
}

void TNetTCPConnection::PrepareIOHandler() {
  if (!ioHandler_) {
    auto handler = std::make_unique<TNetIOHandlerSocket>();
    handler->OnStatus = OnStatus;
    ioHandler_ = handler.get();
    ownedHandler_ = std::move(handler);
    ownsIOHandler_ = true;
  } else if (ioHandler_->Connected()) {
    throw ENetAlreadyConnected();
  }
  ioHandler_->AbortDescriptor = AbortDescriptor;
  governor_.Stop();
}

void TNetTCPConnection::DoOnDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

void TNetTCPConnection::ResetLink() {
  input_.Clear();
  peerClosed_ = false;
}

std::string TNetTCPConnection::ReadUntilClosed() {
  base::TMemoryStream data;
  StartWork(wmRead, 0);
  try {
    ReadToStream(data, -1, true);
  } catch (...) {
    FinishWork(wmRead);
    throw;
  }
  FinishWork(wmRead);
  return data.AsString();
}

bool TNetTCPConnection::CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer) {
  bool closed;
  if (peerClosed_ || !ioHandler_) {
    if (ioHandler_ && ioHandler_->Connected()) {
      DropSocket();
      DoStatus(hsDisconnected);
      DoOnDisconnected();
    }
    closed = ioHandler_ != nullptr;
  } else {
    closed = !ioHandler_->Connected();
  }
  if (closed && (input_.Size() == 0 || ignoreBuffer) && raiseIfClosed)
    throw ENetConnClosedGracefully();
  return closed;
}

void TNetTCPConnection::ProbePeerClosed(bool raiseIfClosed) {
  FillInputBuffer(raiseIfClosed, 1, false);
}

bool TNetTCPConnection::IsLinkOpen() {
  CheckPeerClosed(false, false);
  return ioHandler_ && ioHandler_->Connected();
}

void TNetTCPConnection::CloseSession() {
  DoStatus(hsDisconnecting);
  DropSocket();
  if (ownsIOHandler_) {
    ioHandler_ = nullptr;
    ownedHandler_.reset();
    ownsIOHandler_ = false;
  }
  DoOnDisconnected();
  DoStatus(hsDisconnected);
}

void TNetTCPConnection::DropSocket() {
  if (!ioHandler_) return;
  peerClosed_ = true;
  if (Intercept) Intercept->Disconnect();
  ioHandler_->Close();
}

std::int64_t TNetTCPConnection::FillInputBuffer(bool raiseIfClosed, int timeout,
                                                bool raiseOnTimeout) {
  if (timeout == -1) timeout = ReadTimeout == 0 ? kInfiniteWait : ReadTimeout;
  if (replyDeadline_) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*replyDeadline_ -
                                                                   std::chrono::steady_clock::now())
                          .count();
    const int leftMs = static_cast<int>(std::clamp<std::int64_t>(left, 0, INT32_MAX));
    timeout = timeout == kInfiniteWait ? leftMs : std::min(timeout, leftMs);
  }
  CheckPeerClosed(raiseIfClosed, false);
  if (!IsLinkOpen()) {
    if (raiseIfClosed) throw ENetNotConnected();
    return 0;
  }
  const bool limited = RateLimits.Active();
  std::int64_t count;
  do {
    std::int64_t room =
        std::max(bulk_ ? std::max(BulkReceiveSize, RecvBufferSize) : RecvBufferSize, 1);
    // Without a time limit and nothing to watch, the receive itself is the
    // wait: no poll call first.
    const bool watched = timeout != kInfiniteWait || ioHandler_->AbortDescriptor >= 0;
    if (limited ? !WaitWithinRateLimits(timeout, room)
                : watched && !ioHandler_->Readable(timeout)) {
      if (raiseOnTimeout) throw ENetReadTimeout();
      return -1;
    }
    if (!ioHandler_) {
      if (raiseIfClosed) throw ENetNotConnected();
      count = 0;
    } else {
      std::uint8_t* tail = input_.ReserveTail(room);
      count = ioHandler_->Recv(tail, room);
      peerClosed_ = count == 0;
      if (count < 0) {
        const int err = Stack().LastError();
        // A failed receive leaves the socket closed, whatever the error.
        DropSocket();
        if ((err == WSAESHUTDOWN || err == WSAECONNABORTED) && input_.Size() > 0)
          count = 0;
        else
          Stack().ThrowSocketError(err);
      }
      if (count > 0) {
        if (Intercept) {
          TNetSimpleBuffer received;
          received.Append(tail, count);
          Intercept->Receive(received);
          count = received.Size();
          tail = input_.ReserveTail(count);
          std::copy(received.Data(), received.Data() + count, tail);
        }
        if (ASCIIFilter)
          for (std::int64_t i = 0; i < count; ++i) tail[i] &= 0x7F;
        input_.CommitTail(count);
        if (limited) governor_.Count(count);
      }
    }
    CheckPeerClosed(raiseIfClosed, false);
  } while (count == 0 && IsLinkOpen());
  return count;
}

bool TNetTCPConnection::WaitWithinRateLimits(int timeout, std::int64_t& room) {
  using Clock = TNetRateGovernor::Clock;
  if (!governor_.Started()) governor_.Start(RateLimits);
  governor_.CheckFloor();
  room = governor_.Pace(room, ioHandler_->AbortDescriptor);
  const bool bounded = timeout != kInfiniteWait;
  const Clock::time_point deadline =
      bounded ? Clock::now() + std::chrono::milliseconds(timeout) : Clock::time_point::max();
  while (true) {
    governor_.CheckFloor();
    int slice = governor_.MillisecondsToCheck();
    if (bounded) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      const int leftMs = static_cast<int>(std::max<std::int64_t>(left, 0));
      slice = slice == kInfiniteWait ? leftMs : std::min(slice, leftMs);
    }
    if (ioHandler_->Readable(slice)) return true;
    if (bounded && Clock::now() >= deadline) return false;
  }
}

std::string TNetTCPConnection::ReadTextLine(const std::string& terminator, int timeout,
                                            int maxLength) {
  const std::string term = terminator.empty() ? std::string("\n") : terminator;
  if (maxLength == -1) maxLength = MaxLineLength;
  readLnSplit_ = readLnTimedOut_ = false;
  std::int64_t searchFrom = 0;
  while (true) {
    std::int64_t pos = input_.Find(term, searchFrom);
    if (maxLength > 0 && (pos >= 0 ? pos > maxLength : input_.Size() > maxLength)) {
      if (MaxLineAction == maException) throw ENetReadLnMaxLineLengthExceeded();
      readLnSplit_ = true;
      std::string line(input_.View().substr(0, static_cast<std::size_t>(maxLength)));
      input_.Remove(maxLength);
      return line;
    }
    if (pos >= 0) {
      std::string line(input_.View().substr(0, static_cast<std::size_t>(pos)));
      input_.Remove(pos + static_cast<std::int64_t>(term.size()));
      if (term == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    searchFrom =
        std::max<std::int64_t>(0, input_.Size() - static_cast<std::int64_t>(term.size()) + 1);
    CheckPeerClosed(true, true);
    std::int64_t result = FillInputBuffer(true, timeout, timeout == -1);
    readLnTimedOut_ = result == 0;
    if (result == 0) return {};
  }
}

std::string TNetTCPConnection::ReadNonEmptyLine(int maxTries) {
  for (int i = 0; i < maxTries; ++i) {
    std::string line = TrimBlanks(ReadTextLine("\n", -1, -1));
    if (!line.empty()) return line;
  }
  return {};
}

void TNetTCPConnection::WaitForBytes(std::int64_t count) {
  while (input_.Size() < count) {
    FillInputBuffer(true, -1, true);
    CheckPeerClosed(true, true);
  }
}

void TNetTCPConnection::ReadExact(void* buffer, std::int64_t count) {
  if (count <= 0) return;
  WaitForBytes(count);
  input_.Extract(buffer, count);
}

void TNetTCPConnection::ReadToStream(base::TStream& stream, std::int64_t byteCount,
                                     bool untilClosed) {
  bool announcedByPeer = false;
  if (!untilClosed && byteCount == -1) {
    std::uint8_t b[4];
    ReadExact(b, 4);
    byteCount = static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) << 24 | b[1] << 16 |
                                          b[2] << 8 | b[3]);
    announcedByPeer = true;
  }
  // A count the peer announced does not size the stream up front: a lying peer
  // could make a memory stream allocate 2 GiB before sending a byte.
  if (byteCount >= 0 && !announcedByPeer) {
    const std::int64_t pos = stream.Position();
    stream.SetSize(pos + byteCount);
    stream.SetPosition(pos);
  }
  // Until closed means until the peer closes, however long: a 32-bit limit
  // would cut files past 2 GiB short.
  std::int64_t remaining = untilClosed ? std::numeric_limits<std::int64_t>::max() : byteCount;
  StartWork(wmRead, untilClosed ? 0 : byteCount);
  bulk_ = untilClosed;
  auto finish = [&] {
    bulk_ = false;
    FinishWork(wmRead);
    if (stream.Position() < stream.Size()) stream.SetSize(stream.Position());
  };
  try {
    try {
      std::int64_t n = std::min(remaining, input_.Size());
      if (n > 0) {
        stream.WriteBuffer(input_.Data(), n);
        input_.Remove(n);
        remaining -= n;
      }
      const std::int64_t chunk = std::min<std::int64_t>(remaining, std::max(RecvBufferSize, 1));
      while (remaining > 0 && IsLinkOpen()) {
        const std::int64_t k = std::min(remaining, chunk);
        WaitForBytes(k);
        // Without a work event to see each chunk (one may stop the transfer),
        // every whole chunk received so far is written at once; either way
        // straight from the input buffer, with no copy in between, and each
        // chunk removed on its own, so that the events count as they did.
        const std::int64_t whole = OnWork ? k : std::min(remaining, input_.Size() / k * k);
        stream.WriteBuffer(input_.Data(), whole);
        for (std::int64_t done = 0; done < whole; done += k)
          input_.Remove(std::min(k, whole - done));
        remaining -= whole;
      }
    } catch (const ENetConnClosedGracefully&) {
      if (!untilClosed) throw;
      if (input_.Size() > 0) stream.WriteBuffer(input_.Data(), input_.Size());
      input_.Clear();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

bool TNetTCPConnection::ReadUntilClosedWithin(base::TStream& stream, std::int64_t maxBytes) {
  std::int64_t room = std::max<std::int64_t>(maxBytes, 0);
  StartWork(wmRead, 0);
  bulk_ = true;
  auto finish = [&] {
    bulk_ = false;
    FinishWork(wmRead);
    if (stream.Position() < stream.Size()) stream.SetSize(stream.Position());
  };
  bool within = true;
  try {
    while (true) {
      const std::int64_t n = std::min(room, input_.Size());
      if (n > 0) {
        stream.WriteBuffer(input_.Data(), n);
        input_.Remove(n);
        room -= n;
      }
      if (input_.Size() > 0) {
        within = false;
        break;
      }
      if (!IsLinkOpen()) break;
      try {
        FillInputBuffer(true, -1, true);
      } catch (const ENetConnClosedGracefully&) {
        // The peer's close with nothing more: the loop ends at the check above.
      }
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return within;
}

void TNetTCPConnection::SendBlock(const std::uint8_t* data, std::int64_t count) {
  TNetSimpleBuffer transformed;
  if (Intercept) {
    transformed.Append(data, count);
    Intercept->Send(transformed);
    data = transformed.Data();
    count = transformed.Size();
  }
  std::int64_t done = 0;
  while (done < count) {
    if (!ioHandler_) throw ENetNotConnected();
    const std::int64_t sent = ioHandler_->Send(data + done, count - done);
    peerClosed_ = sent == 0;
    CheckPeerClosed(true, false);
    if (sent < 0) {
      const int err = Stack().LastError();
      DropSocket();
      Stack().ThrowSocketError(err);
    }
    AddWork(wmWrite, sent);
    done += sent;
  }
}

void TNetTCPConnection::WriteBlock(const void* buffer, std::int64_t count, bool immediate) {
  if (count <= 0) return;
  CheckPeerClosed(true, true);
  if (!IsLinkOpen()) throw ENetNotConnected();
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  if (writeBuffer_ && !immediate) {
    writeBuffer_->Append(bytes, count);
    if (writeBufferThreshold_ > 0 && writeBuffer_->Size() >= writeBufferThreshold_)
      FlushWriteBuffer();
    return;
  }
  SendBlock(bytes, count);
}

void TNetTCPConnection::OpenWriteBuffer(std::int64_t threshold) {
  writeBuffer_ = std::make_unique<TNetSimpleBuffer>();
  writeBufferThreshold_ = threshold;
}

void TNetTCPConnection::FlushWriteBuffer() {
  if (!writeBuffer_ || writeBuffer_->Size() == 0) return;
  TNetSimpleBuffer pending;
  pending.Append(writeBuffer_->Data(), writeBuffer_->Size());
  writeBuffer_->Clear();
  SendBlock(pending.Data(), pending.Size());
}

void TNetTCPConnection::CloseWriteBuffer() {
  FlushWriteBuffer();
  writeBuffer_.reset();
}

void TNetTCPConnection::WriteText(const std::string& text) {
  if (!text.empty()) WriteBlock(text.data(), static_cast<std::int64_t>(text.size()));
}

void TNetTCPConnection::WriteTextLine(const std::string& text) {
  const std::string line = text + "\r\n";
  WriteBlock(line.data(), static_cast<std::int64_t>(line.size()));
}

void TNetTCPConnection::WriteFromStream(base::TStream& stream, bool fromStart,
                                        std::int64_t byteCount, bool prefixWithLength) {
  if (fromStart) stream.SetPosition(0);
  std::int64_t size = byteCount > 0 ? byteCount : stream.Size() - stream.Position();
  if (prefixWithLength) {
    const auto v = static_cast<std::uint32_t>(size);
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24),
                               static_cast<std::uint8_t>(v >> 16),
                               static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    WriteBlock(b, 4);
  }
  StartWork(wmWrite, size);
  try {
    TNetSimpleBuffer piece;
    const std::int64_t pieceSize = std::max(SendBufferSize, 1);
    while (size > 0) {
      std::uint8_t* p = piece.ReserveTail(pieceSize);
      const std::int64_t n = stream.Read(p, std::min(size, pieceSize));
      if (n <= 0) throw ENetNoDataToRead();
      WriteBlock(p, n);
      size -= n;
    }
  } catch (...) {
    FinishWork(wmWrite);
    throw;
  }
  FinishWork(wmWrite);
}

std::int64_t TNetTCPConnection::WriteFileContents(const std::string& fileName,
                                                  bool allowSystemTransfer) {
  (void)allowSystemTransfer;  // no system-level file transfer on this build
  if (!base::FileExists(fileName)) throw ENetFileNotFound(fileName);
  base::TFileStream file(fileName, base::fmOpenRead);
  const std::int64_t size = file.Size();
  WriteFromStream(file, true, 0, false);
  return size;
}

}  // namespace krevo::ftp
