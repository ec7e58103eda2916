#include "app/sources/EncryptionRefusal.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "base/ControlEscape.h"

namespace krevo::app {

const char* const kEncryptionAdvice =
    "The server requires an encrypted (TLS) connection: set Security=tls in the [Updater] "
    "section of config.ini.";

namespace {

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

bool DemandsEncryption(const ftp::ENetProtocolReplyError& reply) {
  if (reply.ReplyCode == 534) return true;  // "request denied for policy reasons"
  if (reply.ReplyCode != 530) return false;
  const std::string text = Lowered(reply.what());
  for (const char* word : {"encrypt", "tls", "ssl"})
    if (text.find(word) != std::string::npos) return true;
  return false;
}

ftp::ENetProtocolReplyError WithEncryptionAdvice(const ftp::ENetProtocolReplyError& reply) {
  // The text lines each end in CR LF; on one line they read as one reply.
  std::string lines;
  const std::string text = reply.what();
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find_first_of("\r\n", from);
    if (end == std::string::npos) end = text.size();
    if (end > from) lines += (lines.empty() ? "" : " ") + text.substr(from, end - from);
    from = end + 1;
  }
  return ftp::ENetProtocolReplyError(
      reply.ReplyCode, std::string(kEncryptionAdvice) +
                           " The server replied: " + std::to_string(reply.ReplyCode) + " " +
                           base::EscapeControlCharacters(lines));
}

}  // namespace krevo::app
