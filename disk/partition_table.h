// The partition table at the start of a disk or a disk image, as `dd
// if=/dev/sdb` would copy it: MBR (mbr.h) or GPT behind its protective MBR
// (gpt.h). Read-only; 512-byte or 4096-byte sectors. As fdisk does, a table
// with a partition out of place is still listed, that partition marked.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "disk/disk_bytes.h"
#include "disk/partition.h"

namespace karvo {

// Whether a disk's first sector holds an MBR, protective or not, with
// partitions or none (a disk initialised but not partitioned): the table
// reader answers with nothing for any other. A volume's boot sector may pass
// for an empty one: read it as a volume first.
bool HoldsPartitionTable(std::span<const std::uint8_t> first);

// `first` is the start of the disk, at least its first sector. The sector size
// is `sectorBytes` when the system or the user gives it; else the table tells
// it. No table and no problem when the disk holds no partition table; a
// problem when the table is damaged or points outside the disk.
PartitionTableReading ReadPartitionTable(std::span<const std::uint8_t> first, DiskReader& disk,
                                         std::optional<std::int64_t> sectorBytes = std::nullopt);

}  // namespace karvo
