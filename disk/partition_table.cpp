#include "disk/partition_table.h"

#include <algorithm>

#include "disk/gpt.h"
#include "disk/mbr.h"
#include "disk/on_disk.h"

namespace karvo {

bool HoldsPartitionTable(std::span<const std::uint8_t> first) {
  namespace mbr = layout::mbr;
  if (first.size() < layout::boot_record::kBytes ||
      layout::Get(first, layout::boot_record::kSignature) != layout::boot_record::kSignatureValue) {
    return false;
  }
  // Four entries, each with a boot flag of 0 or 0x80, as libblkid and the
  // kernel ask; empty ones, or ones that start at sector 0, are a table too.
  for (std::size_t slot = 0; slot < mbr::kEntryCount; ++slot) {
    const auto flag = layout::Get(layout::Bytes(first, mbr::Entry(slot)), mbr::kBootFlag);
    if (flag != 0 && flag != mbr::kActive) return false;
  }
  return true;
}

PartitionTableReading ReadPartitionTable(std::span<const std::uint8_t> first, DiskReader& disk,
                                         std::optional<std::int64_t> sectorBytes) {
  if (!HoldsPartitionTable(first)) return {};
  return IsProtectiveMbr(first) ? ReadGpt(first, disk, sectorBytes) : ReadMbr(first, disk, sectorBytes);
}

}  // namespace karvo
