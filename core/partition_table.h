// The partition table at the start of a disk or a disk image, as `dd
// if=/dev/sdb` would copy it: MBR, with the logical partitions inside an
// extended one, or GPT behind its protective MBR, its header and entries
// checked against their CRCs. Read-only; 512-byte sectors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "fixed_text.h"

namespace karvo {

// Reads `into.size()` bytes at `offset` of the disk; false when it cannot
// (beyond its end, say).
class DiskReader {
 public:
  DiskReader() = default;
  DiskReader(const DiskReader&) = delete;
  DiskReader& operator=(const DiskReader&) = delete;
  virtual ~DiskReader() = default;
  virtual bool Read(std::int64_t offset, std::span<std::uint8_t> into) = 0;
};

struct Partition {
  int number = 0;  // MBR: 1 to 4, logical ones from 5; GPT: the entry's place
  std::int64_t firstByte = 0;
  std::int64_t bytes = 0;
  FixedText<48> type;     // "0x0c FAT32 (LBA)", "Microsoft basic data", or the GUID
  bool extended = false;  // an MBR's extended partition, which holds the logical ones
};

struct PartitionTable {
  static constexpr std::size_t kMostPartitions = 128;
  std::string_view scheme;  // "MBR" or "GPT"
  std::array<Partition, kMostPartitions> partitions{};
  std::size_t count = 0;
};

struct PartitionTableReading {
  std::optional<PartitionTable> table;
  std::string_view problem;  // why a table that is there cannot be read: one line
};

// `first` is the disk's first sector. No table and no problem when it holds
// no partition table; a problem when the table is damaged or points outside
// the disk (`diskBytes`, when known).
PartitionTableReading ReadPartitionTable(std::span<const std::uint8_t> first, DiskReader& disk,
                                         std::optional<std::int64_t> diskBytes);

// CRC-32 as GPT uses it (the polynomial of zlib and Ethernet).
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

}  // namespace karvo
