#include "disk/crc32.h"

namespace karvo {

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  constexpr std::uint32_t kReflectedPolynomial = 0xEDB88320;
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (kReflectedPolynomial & (0 - (crc & 1)));
  }
  return ~crc;
}

}  // namespace karvo
