#pragma once
// TNetTCPConnection: one buffered TCP stream with line I/O, exact and
// until-closed reads, block writes, the peer-close check, and the reply layer
// (ReadReply, ExpectReply, CheckReplyCode, SendCommand). Every
// operation blocks the calling thread. Not thread-safe: one thread at a time.
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "base/Streams.h"
#include "ftp/NetBuffer.h"
#include "ftp/NetComponent.h"
#include "ftp/NetExceptions.h"
#include "ftp/NetIOHandler.h"
#include "ftp/NetRFCReply.h"
#include "ftp/NetRateGovernor.h"

namespace krevo::ftp {

// Allowed reply codes; {-1} allows any code.
using TReplyCodes = std::initializer_list<std::int16_t>;

class TNetTCPConnection : public TNetComponent {
 public:
  TNetTCPConnection();
  ~TNetTCPConnection() override;

  // --- Published properties.
  bool ASCIIFilter = false;
  TNetConnectionIntercept* Intercept = nullptr;  // borrowed; must outlive the connection's use
  int MaxLineLength = 16384;                     // 0: no limit
  TNetMaxLineAction MaxLineAction = maException;
  int ReadTimeout = 0;  // milliseconds; 0: wait without limit
  // A descriptor (borrowed, -1: none) that, once readable, ends every wait of
  // the connection (connect, receive, the active-mode accept) with
  // ENetOperationAborted: the owner's way to stop a blocking transfer from a
  // signal handler or another thread. Never read; handed to the I/O handler
  // at each open.
  int AbortDescriptor = -1;
  int RecvBufferSize = 32768;
  // The most one receive takes while data is read until the peer closes
  // (ReadToStream until closed, ReadUntilClosedWithin): a bulk transfer
  // makes fewer, larger calls, each chunk of RecvBufferSize still counted in
  // its own work event. Less than RecvBufferSize counts as RecvBufferSize.
  int BulkReceiveSize = 262144;
  int SendBufferSize = 32768;
  // The floor and the cap on the speed of this connection's receives (none by
  // default), counted from the first receive after each open. A receive
  // below the floor throws ENetTransferTooSlow (an ENetReadTimeout); the
  // cap's pauses come before the wait for data, so ReadTimeout still bounds
  // the silence alone, and they end with ENetOperationAborted as every wait
  // does once AbortDescriptor is readable.
  TNetRateLimits RateLimits;
  TNotifyEvent OnDisconnected;

  // The I/O handler: created by OpenLink when absent (and then owned and freed
  // at close), or set by the caller (borrowed).
  TNetIOHandler* IOHandler() const { return ioHandler_; }
  void SetIOHandler(TNetIOHandler* handler);
  // Installs `handler` as an owned one (freed at close like the one OpenLink
  // creates), with the connection's OnStatus.
  void AdoptIOHandler(std::unique_ptr<TNetIOHandler> handler);
  // The socket handle of a socket I/O handler, or null.
  TNetSocketHandle* Binding() const;

  TNetManagedBuffer& InputBuffer() { return input_; }
  TNetRFCReply& LastReply() { return lastReply_; }
  TNetRFCReply& GreetingReply() { return greetingReply_; }
  bool ReadLnSplit() const { return readLnSplit_; }
  bool ReadLnTimedOut() const { return readLnTimedOut_; }
  bool ClosedGracefully() const { return peerClosed_; }

  // --- Virtual operations, in their slot order.
  virtual void DoOnDisconnected();
  // Empties the input buffer and clears the peer-closed flag.
  virtual void ResetLink();
  // All data until the peer closes, inside StartWork(wmRead, 0) ..
  // FinishWork(wmRead).
  virtual std::string ReadUntilClosed();
  // Returns whether the link counts as closed; raises
  // ENetConnClosedGracefully when closed with nothing to read (or
  // `ignoreBuffer`) and `raiseIfClosed`.
  virtual bool CheckPeerClosed(bool raiseIfClosed = true, bool ignoreBuffer = false);
  // FillInputBuffer(raiseIfClosed, 1 ms, no raise on time-out).
  virtual void ProbePeerClosed(bool raiseIfClosed = true);
  // Returns `code` when `allowed` holds it (or is {-1}); else RaiseReplyError.
  virtual std::int16_t CheckReplyCode(std::int16_t code, TReplyCodes allowed);
  // CheckPeerClosed(false, false); then whether a handler exists and is connected.
  virtual bool IsLinkOpen();
  // Orderly close: hsDisconnecting, DropSocket, owned handler freed,
  // OnDisconnected, hsDisconnected. No protocol words.
  virtual void CloseSession();
  // Closes the socket without events.
  virtual void DropSocket();
  // ReadReply, then CheckReplyCode with LastReply's code.
  virtual std::int16_t ExpectReply(TReplyCodes allowed);
  // Raises ENetProtocolReplyError(LastReply's code, its text lines + CR LF).
  [[noreturn]] virtual void RaiseReplyError();
  // One receive of up to RecvBufferSize bytes (BulkReceiveSize within a
  // bulk read) into the input buffer (fewer, after a pause, under a RateLimits cap). `timeout` -1:
  // ReadTimeout. Returns the count, 0 when the peer closed, -1 when the wait
  // ran out and `raiseOnTimeout` is false. Below a RateLimits floor it throws
  // ENetTransferTooSlow, whatever `raiseOnTimeout` says.
  virtual std::int64_t FillInputBuffer(bool raiseIfClosed = true, int timeout = -1,
                                       bool raiseOnTimeout = true);
  // One line ending in `terminator` (empty: LF, which also takes a
  // CR before it). `maxLength` -1: MaxLineLength; 0: no limit.
  virtual std::string ReadTextLine(const std::string& terminator = {}, int timeout = -1,
                                   int maxLength = -1);
  // WriteTextLine(command), then ExpectReply(allowed).
  virtual std::int16_t SendCommand(const std::string& command, TReplyCodes allowed);
  std::int16_t SendCommand(const std::string& command, std::int16_t code) {
    return SendCommand(command, {code});
  }
  virtual void WriteText(const std::string& text);
  // The text and CR LF as one block.
  virtual void WriteTextLine(const std::string& text);
  // Sends `byteCount` bytes of `stream` (0: all from the position; from the
  // start when `fromStart`) in SendBufferSize pieces inside StartWork(wmWrite,
  // n) .. FinishWork(wmWrite); with `prefixWithLength` a 4-byte big-endian count
  // goes first. A stream that runs dry raises ENetNoDataToRead.
  virtual void WriteFromStream(base::TStream& stream, bool fromStart = true,
                               std::int64_t byteCount = 0, bool prefixWithLength = false);
  // Sends a whole file; a missing file raises ENetFileNotFound. Returns its size.
  virtual std::int64_t WriteFileContents(const std::string& fileName,
                                         bool allowSystemTransfer = false);

  // --- Further operations.
  // The first line that is not empty once trimmed, trimmed.
  std::string ReadNonEmptyLine(int maxTries);
  // Exactly `count` bytes.
  void ReadExact(void* buffer, std::int64_t count);
  // With 64-bit counts: `byteCount` bytes (-1 without
  // `untilClosed`: a 4-byte big-endian count first), or everything until the
  // peer closes, however long. A caller's count grows the stream up front; a
  // count read from the peer does not. The stream is cut at its position after
  // the read, whether it succeeds or fails.
  void ReadToStream(base::TStream& stream, std::int64_t byteCount = -1, bool untilClosed = false);
  // ReadToStream(stream, -1, true) with a bound: at most `maxBytes` (>= 0)
  // bytes reach the stream. Returns true when the peer closed within the
  // bound; false as soon as a byte more has arrived, with the stream holding
  // the first `maxBytes` and nothing past them (the excess stays in the input
  // buffer, nothing more is read). Throws as ReadToStream.
  bool ReadUntilClosedWithin(base::TStream& stream, std::int64_t maxBytes);
  // Sends every byte (or collects them in an open write buffer).
  void WriteBlock(const void* buffer, std::int64_t count, bool immediate = false);
  // One reply, single- or multi-line, into LastReply. With a ReadTimeout,
  // the whole reply must arrive within it, not only each of its lines: a
  // server that drips one line just inside ReadTimeout cannot hold the
  // reading longer (ENetReadTimeout).
  void ReadReply();
  // Raises `E`, constructed from LastReply's text lines + CR LF.
  template <class E>
  [[noreturn]] void RaiseReplyErrorAs() {
    throw E(lastReply_.FormattedText());
  }
  // The optional write buffer (absent unless opened): writes collect in it and
  // go out once it holds `threshold` bytes (<= 0: only on flush or close).
  void OpenWriteBuffer(std::int64_t threshold = -1);
  void FlushWriteBuffer();
  void CloseWriteBuffer();

  // The most a multi-line reply may collect: 64 lines of MaxLineLength bytes
  // (1 MiB by default). A reply that never ends cannot grow memory beyond it.
  std::int64_t MaxReplySize() const;

 protected:
  // Creates an owned socket handler when none is set and gives the handler
  // AbortDescriptor; raises ENetAlreadyConnected when the handler is connected.
  void PrepareIOHandler();

  bool ownsIOHandler_ = false;

 private:
  void SendBlock(const std::uint8_t* data, std::int64_t count);
  // Makes sure at least `count` bytes are buffered (ReadExact's loop).
  void WaitForBytes(std::int64_t count);
  // FillInputBuffer's wait under RateLimits: paces `room` down to what the
  // cap allows, then waits up to `timeout` for data in slices that end at each
  // check of the floor. Returns false when the wait ran out.
  bool WaitWithinRateLimits(int timeout, std::int64_t& room);

  TNetIOHandler* ioHandler_ = nullptr;
  std::unique_ptr<TNetIOHandler> ownedHandler_;
  TNetManagedBuffer input_;
  std::unique_ptr<TNetSimpleBuffer> writeBuffer_;
  std::int64_t writeBufferThreshold_ = 0;
  bool peerClosed_ = false;
  bool readLnSplit_ = false;
  bool readLnTimedOut_ = false;
  TNetRateGovernor governor_;
  // A bulk read is in progress: receives take up to BulkReceiveSize.
  bool bulk_ = false;
  TNetRFCReply greetingReply_;
  TNetRFCReply lastReply_;
  // While ReadReply reads: when the reply must be whole. Every wait for data
  // ends there at the latest.
  std::optional<std::chrono::steady_clock::time_point> replyDeadline_;
};

}  // namespace krevo::ftp
