#include "disk/partition.h"

#include <algorithm>

namespace karvo {

bool AddPartition(PartitionTable& table, Partition named, std::uint64_t first, std::uint64_t sectors,
                  std::optional<std::int64_t> diskBytes) {
  if (table.partitions.size() == PartitionTable::kMostPartitions) return false;
  // Keeps every byte count, and the sum of two, inside 64 bits: beyond, a
  // partition is past any disk.
  const std::uint64_t mostSectors = kMostPartitionBytes / static_cast<std::uint64_t>(table.sectorBytes);
  named.firstByte = static_cast<std::int64_t>(std::min(first, mostSectors)) * table.sectorBytes;
  named.bytes = static_cast<std::int64_t>(std::min(sectors, mostSectors)) * table.sectorBytes;
  if (first > mostSectors || sectors > mostSectors || (diskBytes && named.firstByte + named.bytes > *diskBytes)) {
    named.misplaced = Misplaced::PastTheDisk;
  }
  table.partitions.push_back(named);
  return true;
}

void MarkOverlaps(PartitionTable& table) {
  auto& partitions = table.partitions;
  for (std::size_t i = 0; i < partitions.size(); ++i) {
    Partition& later = partitions[i];
    for (std::size_t j = 0; j < i; ++j) {
      const Partition& earlier = partitions[j];
      const bool nested = (earlier.extended && later.logical) || (later.extended && earlier.logical);
      if (!nested && later.firstByte < earlier.firstByte + earlier.bytes &&
          earlier.firstByte < later.firstByte + later.bytes) {
        later.overlaps = earlier.number;
        break;
      }
    }
  }
}

}  // namespace karvo
