#include "ftp/NetExceptions.h"

#include <array>
#include <utility>

namespace krevo::ftp {
namespace {

// One row per TNetMessage, in its order.
constexpr std::array<std::pair<TNetMessage, const char*>, 35> kMessages{{
    {TNetMessage::ConnClosedGracefully, "Connection Closed Gracefully."},
    {TNetMessage::AlreadyConnected, "Already connected."},
    {TNetMessage::ClosedSocket, "Disconnected."},
    {TNetMessage::ReadTimeout, "Read Timeout"},
    {TNetMessage::MaxLineLengthExceeded, "Max line length exceeded."},
    {TNetMessage::ConnectTimeout, "Connect timed out."},
    {TNetMessage::InvalidServiceName, "%s is not a valid service."},
    {TNetMessage::InvalidSocket, "Cannot allocate socket."},
    {TNetMessage::StackInitializationFailed, "Winsock Initialization Error."},
    {TNetMessage::StackSetSizeExceeded, "Set Size Exceeded."},
    {TNetMessage::CouldNotBindSocket, "Could not bind socket. Address and port are already in use."},
    {TNetMessage::CanNotBindPortInRange, "Can not bind in port range (%d - %d)"},
    {TNetMessage::InvalidPortRange, "Invalid Port Range (%d - %d)"},
    {TNetMessage::NotEnoughDataInBuffer, "Not enough data in buffer."},
    {TNetMessage::NoDataToRead, "No data to read."},
    {TNetMessage::NotConnected, "Not Connected"},
    {TNetMessage::FileNotFound, "File \"%s\" not found"},
    {TNetMessage::InvalidFTPListingFormat, "Unknown FTP listing format"},
    {TNetMessage::FTPFileAlreadyExists, "Destination file already exists."},
    {TNetMessage::WS2LoadError, "Error on loading Winsock2 library (%s)"},
    {TNetMessage::WS2CallError, "Error on call Winsock2 library function %s"},
    {TNetMessage::CommandNotSupported, "Command not supported."},
    {TNetMessage::InvalidPassiveReply, "Invalid passive mode reply: %s"},
    {TNetMessage::InvalidCommandArgument, "Invalid character in FTP command argument"},
    {TNetMessage::OperationAborted, "Operation aborted."},
    {TNetMessage::TLSError, "TLS error: %s"},
    {TNetMessage::TLSCertificateRefused, "The server's certificate was refused: %s"},
    {TNetMessage::TLSRefused, "The server refused TLS: %s"},
    {TNetMessage::TLSDataBeforeHandshake, "The server sent data before the TLS handshake."},
    {TNetMessage::TLSTrustStore, "Cannot load the trusted certificates (%s): %s"},
    {TNetMessage::TLSIdentity,
     "Cannot check the server's identity: \"%s\" is no host name or address"},
    {TNetMessage::TransferTooLong, "The server sent more than the %d bytes expected"},
    {TNetMessage::ListingTooManyLines, "The listing is longer than %d lines"},
    {TNetMessage::ListingTooLarge, "The listing is longer than %d MiB"},
    {TNetMessage::TransferTooSlow, "The transfer was slower than %d bytes a second for %d seconds"},
}};

}  // namespace

const char* NetMessageText(TNetMessage id) {
  const auto& row = kMessages[static_cast<std::size_t>(id)];
  return row.first == id ? row.second : "";
}

std::string NetMessage(TNetMessage id, std::initializer_list<std::string> args) {
  std::string format = NetMessageText(id), out;
  auto arg = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 's' || format[i + 1] == 'd') &&
        arg != args.end()) {
      out += *arg++;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

}  // namespace krevo::ftp
