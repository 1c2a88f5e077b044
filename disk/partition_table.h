// The partition table at the start of a disk or a disk image, as `dd
// if=/dev/sdb` would copy it: MBR (mbr.h) or GPT behind its protective MBR
// (gpt.h). Read-only; 512-byte or 4096-byte sectors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/fixed_text.h"
#include "disk/disk_bytes.h"

namespace karvo {

struct Partition {
  int number = 0;  // MBR: 1 to 4, logical ones from 5; GPT: the entry's place
  std::int64_t firstByte = 0;
  std::int64_t bytes = 0;
  FixedText<48> type;        // "0x0c FAT32 (LBA)", "Microsoft basic data", or the GUID
  bool extended = false;     // an MBR's extended partition, which holds the logical ones
  bool logical = false;      // an MBR's logical partition, inside the extended one
  bool active = false;       // an MBR's boot flag
  bool windowsType = false;  // a type that holds FAT32 or NTFS volumes (data, EFI, recovery)
  int overlaps = 0;          // the number of an earlier partition it overlaps; 0 for none
};

struct PartitionTable {
  static constexpr std::size_t kMostPartitions = 128;
  std::string_view scheme;  // "MBR" or "GPT"
  std::int64_t sectorBytes = kSectorBytes;
  std::vector<Partition> partitions;  // in the order fdisk lists them
};

struct PartitionTableReading {
  std::optional<PartitionTable> table;
  std::string_view problem;         // why a table that is there cannot be read: one line
  std::string_view primaryProblem;  // a GPT read from its backup: what is wrong with the primary
};

inline constexpr std::string_view kOutsideTheDisk = "a partition table that points outside the disk";

// Whether a disk's first sector holds an MBR, protective or not: the table
// reader answers with nothing for any other.
bool HoldsPartitionTable(std::span<const std::uint8_t> first);

// `first` is the start of the disk, at least its first sector. The sector size
// is `sectorBytes` when the system or the user gives it; else the table tells
// it. No table and no problem when the disk holds no partition table; a
// problem when the table is damaged or points outside the disk.
PartitionTableReading ReadPartitionTable(std::span<const std::uint8_t> first, DiskReader& disk,
                                         std::optional<std::int64_t> sectorBytes = std::nullopt);

// For the schemes' readers: adds a partition of `sectors` sectors from
// `first`; false when the table is full or the partition leaves the disk.
bool AddPartition(PartitionTable& table, Partition named, std::uint64_t first, std::uint64_t sectors,
                  std::optional<std::int64_t> diskBytes);

// Notes, for each partition, the first earlier one whose sectors it shares,
// as fdisk and sfdisk check both schemes; a logical partition lies inside its
// extended one by design.
void MarkOverlaps(PartitionTable& table);

}  // namespace karvo
