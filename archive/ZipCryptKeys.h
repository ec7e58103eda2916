#pragma once
// The traditional PKWARE decryption: three 32-bit keys set from the password,
// a 12-byte header checked against one byte, then a key stream over the data.
#include <cstddef>
#include <cstdint>
#include <string>

namespace krevo::archive {

class TZipCryptKeys final {
 public:
  // Sets the keys from the password's bytes as they stand (no conversion).
  void Init(const std::string& password);
  // Decrypts the 12-byte header in place (advancing the keys) and compares
  // its last byte with `checkByte`.
  bool CheckHeader(std::uint8_t header[12], std::uint8_t checkByte);
  // Decrypts in place, continuing the key state across calls.
  void Decrypt(std::uint8_t* data, std::size_t size);

 private:
  void Update(std::uint8_t plain);
  std::uint32_t k0_ = 0, k1_ = 0, k2_ = 0;
};

}  // namespace krevo::archive
