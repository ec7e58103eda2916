// Feeds arbitrary bytes to the reply reader and the line reader, as a server
// would send them. Any ENetException is a fine outcome; a crash, a leak or a
// hang is not.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Streams.h"
#include "ftp/NetTCPConnection.h"
#include "fuzz/ftp/MemoryIOHandler.h"

using namespace krevo::ftp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // First byte: chunk size; second: which reader and its settings.
  const std::size_t chunk = data[0] + 1;
  const std::uint8_t mode = data[1];
  fuzz::TMemoryIOHandler handler(std::string(reinterpret_cast<const char*>(data + 2), size - 2), chunk);
  TNetTCPConnection connection;
  connection.SetIOHandler(&handler);
  connection.MaxLineLength = (mode & 1) ? 64 : 16384;
  connection.MaxLineAction = (mode & 2) ? maSplit : maException;
  try {
    for (int i = 0; i < 1000; ++i) {
      switch (mode >> 6) {
        case 0:
          connection.ReadReply();
          connection.CheckReplyCode(static_cast<std::int16_t>(connection.LastReply().NumericCode()), {-1});
          break;
        case 1:
          connection.ReadTextLine((mode & 4) ? "\r\n" : "");
          break;
        case 2: {
          krevo::base::TMemoryStream stream;
          connection.ReadToStream(stream, -1, (mode & 8) != 0);
          break;
        }
        default:
          connection.ReadNonEmptyLine(3);
          break;
      }
    }
  } catch (const ENetException&) {
  } catch (const krevo::base::Exception&) {
  }
  return 0;
}
