// CRC-32 as GPT uses it for its header and entries: the polynomial of zlib,
// PNG and Ethernet, reflected, starting from and ending in all ones.
#pragma once

#include <cstdint>
#include <span>

namespace karvo {

std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

}  // namespace karvo
