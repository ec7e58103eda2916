#pragma once
// The archive component's exception family. A raising site names the failure
// by its native code (0..64); the class maps it to a message number (the error
// code, 0..39) and builds the text "[<component>: ]<message> - Native error: NNNNN".
#include <string>
#include <vector>

#include "base/Errors.h"

namespace krevo::archive {

class TZipBaseArchiver;

class EZipException : public base::Exception {
 public:
  // `archiver` is borrowed for the duration of the constructor only: its
  // component name (when not empty) prefixes the message. Never throws
  // anything but std::bad_alloc.
  explicit EZipException(int nativeError, const TZipBaseArchiver* archiver = nullptr);
  // As above, the message text first formatted with `args`: one string for
  // the "%s" texts, two integers (as decimal strings) for error code 17, an
  // integer and a string for error code 39.
  // A text without placeholders ignores the arguments.
  static EZipException Fmt(int nativeError, const TZipBaseArchiver* archiver,
                           const std::vector<std::string>& args);

  int ErrorCode;    // message number found for the native code (0 when none)
  int NativeError;  // the native code given by the raising site

  // The message number for a native code; 0 when the table has no pair.
  static int ErrorCodeOf(int nativeError);
  // The message table's text for an error code; "" outside the table.
  static const char* MessageText(int errorCode);
  // The whole message as the constructor builds it.
  static std::string BuildMessage(int nativeError, const std::string& componentName,
                                  const std::vector<std::string>* args);

 private:
  EZipException(int nativeError, const std::string& message);
};

}  // namespace krevo::archive
