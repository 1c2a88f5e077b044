// An MBR partition table: four entries, and the logical partitions in a
// chain of extended boot records inside an extended one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "disk/partition.h"

namespace karvo {

// `first` is the disk's first sector, which holds the table. The sector size
// is `sectorBytes` when given; else the one at which the partitions fit the
// disk and more of them start with a signed sector.
PartitionTableReading ReadMbr(std::span<const std::uint8_t> first, DiskReader& disk,
                              std::optional<std::int64_t> sectorBytes);

}  // namespace karvo
