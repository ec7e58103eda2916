#pragma once
// The exception family of the FTP client. Every message comes from
// one data table (NetMessage); the classes only pick their row.
#include <cstdint>
#include <string>

#include "base/Errors.h"

namespace krevo::ftp {

// Rows of the message table. The texts are fixed; callers and users rely on them.
enum class TNetMessage {
  ConnClosedGracefully,   // "Connection Closed Gracefully."
  AlreadyConnected,       // "Already connected."
  ClosedSocket,           // "Disconnected."
  ReadTimeout,            // "Read Timeout"
  MaxLineLengthExceeded,  // "Max line length exceeded."
  ConnectTimeout,         // "Connect timed out."
  InvalidServiceName,     // "%s is not a valid service."
  InvalidSocket,          // "Cannot allocate socket."
  StackInitializationFailed,  // "Winsock Initialization Error."
  StackSetSizeExceeded,   // "Set Size Exceeded."
  CouldNotBindSocket,     // "Could not bind socket. Address and port are already in use."
  CanNotBindPortInRange,  // "Can not bind in port range (%d - %d)"
  InvalidPortRange,       // "Invalid Port Range (%d - %d)"
  NotEnoughDataInBuffer,  // "Not enough data in buffer."
  NoDataToRead,           // "No data to read."
  NotConnected,           // "Not Connected"
  FileNotFound,           // "File \"%s\" not found"
  InvalidFTPListingFormat,  // "Unknown FTP listing format"
  FTPFileAlreadyExists,   // "Destination file already exists."
  WS2LoadError,           // "Error on loading Winsock2 library (%s)"
  WS2CallError,           // "Error on call Winsock2 library function %s"
  CommandNotSupported,    // "Command not supported."
  InvalidPassiveReply,    // "Invalid passive mode reply: %s"
  InvalidCommandArgument,  // "Invalid character in FTP command argument"
  OperationAborted,       // "Operation aborted."
  TLSError,               // "TLS error: %s"
  TLSCertificateRefused,  // "The server's certificate was refused: %s"
  TLSRefused,             // "The server refused TLS: %s"
  TLSDataBeforeHandshake,  // "The server sent data before the TLS handshake."
  TLSTrustStore,          // "Cannot load the trusted certificates (%s): %s"
  TLSIdentity,            // "Cannot check the server's identity: \"%s\" is no host name or address"
  TransferTooLong,        // "The server sent more than the %d bytes expected"
  ListingTooManyLines,    // "The listing is longer than %d lines"
  ListingTooLarge,        // "The listing is longer than %d MiB"
  TransferTooSlow,        // "The transfer was slower than %d bytes a second for %d seconds"
};

// The format text of a row ("%s" and "%d" mark the arguments).
const char* NetMessageText(TNetMessage id);

// Fills the row's "%s"/"%d" markers, in order, with `args`.
std::string NetMessage(TNetMessage id, std::initializer_list<std::string> args = {});

// Base of the family; also raised with a free text (a proxy type without login
// support, an invalid passive reply, an injected line end).
class ENetException : public base::Exception {
 public:
  explicit ENetException(const std::string& message) : base::Exception(message) {}
  explicit ENetException(TNetMessage id) : base::Exception(NetMessage(id)) {}
};

// Base of errors not meant for the user.
class ENetSilentException : public ENetException {
 public:
  using ENetException::ENetException;
};

class ENetConnClosedGracefully final : public ENetSilentException {
 public:
  ENetConnClosedGracefully() : ENetSilentException(TNetMessage::ConnClosedGracefully) {}
};

// A reply code that the caller does not allow. The message is the reply's text
// lines, each followed by CR LF.
class ENetProtocolReplyError final : public ENetException {
 public:
  ENetProtocolReplyError(std::int32_t replyCode, const std::string& message)
      : ENetException(message), ReplyCode(replyCode) {}
  std::int32_t ReplyCode;
};

#define KREVO_NET_SIMPLE_ERROR(Name, Parent, Row) \
  class Name : public Parent {                    \
   public:                                        \
    Name() : Parent(TNetMessage::Row) {}          \
  };

KREVO_NET_SIMPLE_ERROR(ENetAlreadyConnected, ENetException, AlreadyConnected)
KREVO_NET_SIMPLE_ERROR(ENetClosedSocket, ENetException, ClosedSocket)
// A wait for data that ran out ("Read Timeout"), and the base of the other
// ways a transfer can take too long.
class ENetReadTimeout : public ENetException {
 public:
  ENetReadTimeout() : ENetException(TNetMessage::ReadTimeout) {}

 protected:
  explicit ENetReadTimeout(const std::string& message) : ENetException(message) {}
};

// A transfer below the floor of its connection's rate limits (TNetRateLimits):
// "The transfer was slower than <rate> bytes a second for <seconds> seconds".
// Caught as ENetReadTimeout, it is handled as a time-out wherever one is.
class ENetTransferTooSlow final : public ENetReadTimeout {
 public:
  ENetTransferTooSlow(std::int64_t rate, int seconds)
      : ENetReadTimeout(NetMessage(TNetMessage::TransferTooSlow,
                                   {std::to_string(rate), std::to_string(seconds)})) {}
};

KREVO_NET_SIMPLE_ERROR(ENetReadLnMaxLineLengthExceeded, ENetException, MaxLineLengthExceeded)
KREVO_NET_SIMPLE_ERROR(ENetConnectTimeout, ENetException, ConnectTimeout)
KREVO_NET_SIMPLE_ERROR(ENetInvalidSocket, ENetException, InvalidSocket)
KREVO_NET_SIMPLE_ERROR(ENetInvalidFTPListingFormat, ENetException, InvalidFTPListingFormat)
KREVO_NET_SIMPLE_ERROR(ENetFTPFileAlreadyExists, ENetException, FTPFileAlreadyExists)
// A wait of a connection ended because its abort descriptor became readable
// (the owner was told to stop).
KREVO_NET_SIMPLE_ERROR(ENetOperationAborted, ENetException, OperationAborted)

// A timed connect that failed: the message is the failed connect's own.
class ENetConnectException final : public ENetException {
 public:
  using ENetException::ENetException;
};

class ENetInvalidServiceName final : public ENetException {
 public:
  explicit ENetInvalidServiceName(const std::string& name)
      : ENetException(NetMessage(TNetMessage::InvalidServiceName, {name})) {}
};

// A failing socket call. `ErrorNumber` is the Windows Sockets number where the
// platform error has one, else the platform's own number.
class ENetSocketError final : public ENetException {
 public:
  ENetSocketError(std::int32_t errorNumber, const std::string& message)
      : ENetException(message), ErrorNumber(errorNumber) {}
  std::int32_t ErrorNumber;
};

// Loading or calling the socket library failed. Cannot occur on Linux (nothing
// is loaded at run time); kept so that the family is complete.
class ENetWS2StubError final : public ENetException {
 public:
  ENetWS2StubError(const std::string& title, std::int32_t win32Error, const std::string& win32ErrorText)
      : ENetException(win32Error == 0 ? title : title + ": " + win32ErrorText),
        Title(title),
        Win32Error(win32Error),
        Win32ErrorText(win32ErrorText) {}
  std::string Title;
  std::int32_t Win32Error;
  std::string Win32ErrorText;
};

class ENetStackError : public ENetException {
 public:
  using ENetException::ENetException;
};
KREVO_NET_SIMPLE_ERROR(ENetStackInitializationFailed, ENetStackError, StackInitializationFailed)
KREVO_NET_SIMPLE_ERROR(ENetStackSetSizeExceeded, ENetStackError, StackSetSizeExceeded)

class ENetSocketHandleError : public ENetException {
 public:
  using ENetException::ENetException;
};
KREVO_NET_SIMPLE_ERROR(ENetCouldNotBindSocket, ENetSocketHandleError, CouldNotBindSocket)

class ENetCanNotBindPortInRange final : public ENetSocketHandleError {
 public:
  ENetCanNotBindPortInRange(int min, int max)
      : ENetSocketHandleError(NetMessage(TNetMessage::CanNotBindPortInRange,
                                         {std::to_string(min), std::to_string(max)})) {}
};
class ENetInvalidPortRange final : public ENetSocketHandleError {
 public:
  ENetInvalidPortRange(int min, int max)
      : ENetSocketHandleError(NetMessage(TNetMessage::InvalidPortRange,
                                         {std::to_string(min), std::to_string(max)})) {}
};

class ENetTCPConnectionError : public ENetException {
 public:
  using ENetException::ENetException;
};
KREVO_NET_SIMPLE_ERROR(ENetNotEnoughDataInBuffer, ENetTCPConnectionError, NotEnoughDataInBuffer)
KREVO_NET_SIMPLE_ERROR(ENetNoDataToRead, ENetTCPConnectionError, NoDataToRead)
KREVO_NET_SIMPLE_ERROR(ENetNotConnected, ENetTCPConnectionError, NotConnected)

class ENetFileNotFound final : public ENetTCPConnectionError {
 public:
  explicit ENetFileNotFound(const std::string& fileName)
      : ENetTCPConnectionError(NetMessage(TNetMessage::FileNotFound, {fileName})) {}
};

// A TLS failure: the handshake, a record that does not decrypt, a connection
// that ended without the TLS close (data cut short), the trust store. The
// message holds OpenSSL's reason.
class ENetTLSError : public ENetException {
 public:
  using ENetException::ENetException;
};

// The server's certificate failed the check; `VerifyResult` is OpenSSL's
// X509_V_ERR_* code, the message names it ("certificate has expired",
// "self-signed certificate", "hostname mismatch").
class ENetTLSCertificateError final : public ENetTLSError {
 public:
  ENetTLSCertificateError(long verifyResult, const std::string& reason)
      : ENetTLSError(NetMessage(TNetMessage::TLSCertificateRefused, {reason})),
        VerifyResult(verifyResult) {}
  long VerifyResult;
};

// A transfer that brought more than its bound: a file longer than the size
// it was expected to have ("The server sent more than the N bytes
// expected"), a listing past its limits ("The listing is longer than N lines"
// or "... than N MiB"). Nothing past the bound was kept; by the time it is
// thrown the data connection is closed and the control connection either back
// in step for the next command or, when the server did not answer in time,
// closed. `Limit` is the bound in the row's unit (bytes, lines, MiB).
class ENetTransferTooLong final : public ENetException {
 public:
  explicit ENetTransferTooLong(std::int64_t limit, TNetMessage row = TNetMessage::TransferTooLong)
      : ENetException(NetMessage(row, {std::to_string(limit)})), Limit(limit) {}
  std::int64_t Limit;
};

#undef KREVO_NET_SIMPLE_ERROR

}  // namespace krevo::ftp
