#include "archive/ZipCryptKeys.h"

#include <array>

namespace krevo::archive {
namespace {

constexpr std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}
constexpr std::array<std::uint32_t, 256> kCrc = MakeTable();

inline std::uint32_t CrcStep(std::uint32_t crc, std::uint8_t b) {
  return kCrc[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

}  // namespace

void TZipCryptKeys::Update(std::uint8_t plain) {
  k0_ = CrcStep(k0_, plain);
  k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
  k2_ = CrcStep(k2_, static_cast<std::uint8_t>(k1_ >> 24));
}

void TZipCryptKeys::Init(const std::string& password) {
  k0_ = 0x12345678;
  k1_ = 0x23456789;
  k2_ = 0x34567890;
  for (unsigned char c : password) Update(c);
}

bool TZipCryptKeys::CheckHeader(std::uint8_t header[12], std::uint8_t checkByte) {
  Decrypt(header, 12);
  return header[11] == checkByte;
}

void TZipCryptKeys::Decrypt(std::uint8_t* data, std::size_t size) {
  // Keys in locals so that the loop runs on registers.
  std::uint32_t k0 = k0_, k1 = k1_, k2 = k2_;
  for (std::size_t i = 0; i < size; ++i) {
    std::uint32_t t = (k2 | 2) & 0xFFFF;
    std::uint8_t p = data[i] ^ static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
    data[i] = p;
    k0 = CrcStep(k0, p);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = CrcStep(k2, static_cast<std::uint8_t>(k1 >> 24));
  }
  k0_ = k0, k1_ = k1, k2_ = k2;
}

}  // namespace krevo::archive
