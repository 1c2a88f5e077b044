// A GUID partition table: its header and entries checked against their CRCs
// and, where the primary is damaged, read from the backup at the disk's end.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "disk/partition.h"

namespace karvo {

// Whether an MBR is the protective one in front of a GPT: an entry of type 0xEE.
bool IsProtectiveMbr(std::span<const std::uint8_t> first);

// `first` is the disk's first sector, the protective MBR. The sector size is
// `sectorBytes` when given; else where the header is, one sector in or one
// sector before the end.
PartitionTableReading ReadGpt(std::span<const std::uint8_t> first, DiskReader& disk,
                              std::optional<std::int64_t> sectorBytes);

}  // namespace karvo
