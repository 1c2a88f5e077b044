// A disk held in memory, for the readers' tests and fuzzers: bytes as they
// would lie on a disk, with the facts a platform's opener would give.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "disk/disk_bytes.h"

namespace karvo::fixtures {

class MemoryDisk final : public DiskReader {
 public:
  // A pipe: reads go forward only, and no size is known.
  struct Stream {};
  explicit MemoryDisk(std::span<const std::uint8_t> bytes, std::optional<std::int64_t> sectorBytes = std::nullopt)
      : m_bytes(bytes), m_sector(sectorBytes) {}
  MemoryDisk(std::span<const std::uint8_t> bytes, Stream) : m_bytes(bytes), m_stream(true) {}

  std::size_t ReadAt(std::int64_t offset, std::span<std::uint8_t> into) override {
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= m_bytes.size() || (m_stream && offset != m_position)) {
      return 0;
    }
    const std::size_t count = std::min(into.size(), m_bytes.size() - static_cast<std::size_t>(offset));
    std::copy_n(m_bytes.begin() + offset, count, into.begin());
    m_position = offset + static_cast<std::int64_t>(count);
    return count;
  }
  std::optional<std::int64_t> SizeBytes() const override {
    if (m_stream) return std::nullopt;
    return m_claimed.value_or(static_cast<std::int64_t>(m_bytes.size()));
  }
  // A device that reports more than it can read (a failing disk's end).
  void ClaimSize(std::int64_t bytes) { m_claimed = bytes; }
  std::optional<std::int64_t> SectorBytes() const override { return m_sector; }
  bool CanSeek() const override { return !m_stream; }

 private:
  std::span<const std::uint8_t> m_bytes;
  std::optional<std::int64_t> m_sector;
  bool m_stream = false;
  std::optional<std::int64_t> m_claimed;
  std::int64_t m_position = 0;
};

}  // namespace karvo::fixtures
