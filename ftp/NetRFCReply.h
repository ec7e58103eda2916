#pragma once
// TNetRFCReply: one numbered reply of the control connection.
#include <cstdint>
#include <string>
#include <vector>

#include "base/StringList.h"

namespace krevo::ftp {

class TNetRFCReply final {
 public:
  // 0 when absent or not numeric.
  std::int32_t NumericCode() const { return numericCode_; }
  // Sets the code; a positive value also sets TextCode to its decimal text.
  void SetNumericCode(std::int32_t code);
  const std::string& TextCode() const { return textCode_; }
  // Sets the code text; a non-empty text also sets NumericCode to its integer
  // value, or 0 when it is not a number.
  void SetTextCode(const std::string& code);
  // One entry per reply line, each without its first four characters.
  base::TStringList Text;

  // Code 0, Text and TextCode empty.
  void Clear();
  // Copies all three.
  void Assign(const TNetRFCReply& other);
  // Clears, then parses collected reply lines: the code from the first four characters of the
  // first line, every line without its first four characters as Text.
  void ParseLines(const std::vector<std::string>& lines);
  // The Text lines, each followed by CR LF: the message of a reply error.
  std::string FormattedText() const;

 private:
  std::int32_t numericCode_ = 0;
  std::string textCode_;
};

}  // namespace krevo::ftp
