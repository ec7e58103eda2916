#pragma once
// A login refused because the server accepts only encrypted sessions, told as
// such: the server's own words rarely say what the user can do about it.
#include "ftp/NetExceptions.h"

namespace krevo::app {

// The advice that leads the message of such a refusal.
extern const char* const kEncryptionAdvice;

// Whether `reply` says that the server demands encryption: code 534, or 530
// with a text that names encryption, TLS or SSL (in any case).
bool DemandsEncryption(const ftp::ENetProtocolReplyError& reply);

// The same refusal (same code) whose message is kEncryptionAdvice followed by
// " The server replied: " and the server's code and text lines, joined by
// blanks, control characters escaped.
ftp::ENetProtocolReplyError WithEncryptionAdvice(const ftp::ENetProtocolReplyError& reply);

}  // namespace krevo::app
