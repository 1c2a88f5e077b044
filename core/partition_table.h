// The partition table at the start of a disk or a disk image, as `dd
// if=/dev/sdb` would copy it: MBR, with the logical partitions inside an
// extended one, or GPT behind its protective MBR, its header and entries
// checked against their CRCs and, where the primary is damaged, read from the
// backup at the disk's end. Read-only; 512-byte or 4096-byte sectors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "disk_bytes.h"
#include "fixed_text.h"

namespace karvo {

struct Partition {
  int number = 0;  // MBR: 1 to 4, logical ones from 5; GPT: the entry's place
  std::int64_t firstByte = 0;
  std::int64_t bytes = 0;
  FixedText<48> type;        // "0x0c FAT32 (LBA)", "Microsoft basic data", or the GUID
  bool extended = false;     // an MBR's extended partition, which holds the logical ones
  bool active = false;       // an MBR's boot flag
  bool windowsType = false;  // a type that holds FAT32 or NTFS volumes (data, EFI, recovery)
  int overlaps = 0;          // the number of an earlier partition it overlaps; 0 for none
};

struct PartitionTable {
  static constexpr std::size_t kMostPartitions = 128;
  std::string_view scheme;  // "MBR" or "GPT"
  std::int64_t sectorBytes = kSectorBytes;
  std::array<Partition, kMostPartitions> partitions{};
  std::size_t count = 0;
};

struct PartitionTableReading {
  std::optional<PartitionTable> table;
  std::string_view problem;         // why a table that is there cannot be read: one line
  std::string_view primaryProblem;  // a GPT read from its backup: what is wrong with the primary
};

// Whether a disk's first sector holds an MBR, protective or not: the table
// reader answers with nothing for any other.
bool HoldsPartitionTable(std::span<const std::uint8_t> first);

// `first` is the start of the disk, at least its first sector. The sector size
// is `sectorBytes` when the system or the user gives it; else the table tells
// it: a GPT header one sector in, or the size at which an MBR's partitions fit
// the disk and start with boot sectors. No table and no problem when the disk
// holds no partition table; a problem when the table is damaged or points
// outside the disk.
PartitionTableReading ReadPartitionTable(std::span<const std::uint8_t> first, DiskReader& disk,
                                         std::optional<std::int64_t> sectorBytes = std::nullopt);

// CRC-32 as GPT uses it (the polynomial of zlib and Ethernet).
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

}  // namespace karvo
