#include "disk/volume_layout.h"

#include <algorithm>
#include <limits>

#include "disk/on_disk.h"

namespace karvo {
namespace {

constexpr std::int64_t kSectorsPerMiB = kBytesPerMiB / kSectorBytes;
constexpr std::int64_t kMostFat32Sectors = std::numeric_limits<std::uint32_t>::max();  // a 32-bit field
constexpr std::int64_t kMostFat32Clusters = (std::int64_t{1} << 28) - 16;
// Windows' largest default FAT32 cluster, and so the most its clusters hold.
constexpr std::int64_t kLargestFat32ClusterBytes = std::int64_t{32} << 10;
constexpr std::int64_t kMostNtfsClusters = std::numeric_limits<std::uint32_t>::max();

// mkfs.exfat's heap offset, a 32-bit count of bytes.
constexpr std::int64_t kMostExfatHeapOffset = std::numeric_limits<std::uint32_t>::max();

constexpr std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }
constexpr std::int64_t RoundUp(std::int64_t a, std::int64_t b) { return CeilDiv(a, b) * b; }

}  // namespace

std::int64_t Fat32SectorsPerCluster(std::int64_t megabytes) {
  constexpr std::int64_t kGiBInMiB = 1024;
  if (megabytes > 32 * kGiBInMiB) return 64;
  if (megabytes > 16 * kGiBInMiB) return 32;
  if (megabytes > 8 * kGiBInMiB) return 16;
  return 8;
}

std::optional<Fat32Layout> Fat32LayoutFor(std::int64_t megabytes, std::int64_t sectorBytes) {
  if (megabytes <= 0 || megabytes > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  Fat32Layout layout;
  // The cluster's bytes stay Microsoft's whatever the sector.
  layout.sectorsPerCluster = std::max<std::int64_t>(Fat32SectorsPerCluster(megabytes) * kSectorBytes / sectorBytes, 1);
  const std::int64_t sectors = megabytes * (kBytesPerMiB / sectorBytes);
  layout.totalSectors = sectors < kMostFat32Sectors ? sectors : kMostFat32Sectors;

  // As mkfs.fat sizes the FAT: a first guess at the clusters, counting four
  // bytes of each FAT for each; the FAT that holds them and the two reserved
  // entries; then the clusters that really fit beside the two FATs.
  const std::int64_t fatAndData = layout.totalSectors - kFat32ReservedSectors;
  const std::int64_t guess =
      (fatAndData * sectorBytes + kFat32Copies * 8) / (layout.sectorsPerCluster * sectorBytes + kFat32Copies * 4);
  layout.fatSectors = CeilDiv((guess + 2) * 4, sectorBytes);
  layout.clusters = (fatAndData - kFat32Copies * layout.fatSectors) / layout.sectorsPerCluster;

  const std::int64_t fatEntries = layout.fatSectors * sectorBytes / 4;
  if (layout.clusters < kFewestFat32Clusters || layout.clusters > kMostFat32Clusters || layout.clusters > fatEntries) {
    return std::nullopt;
  }
  return layout;
}

std::int64_t ExfatClusterBytes(std::int64_t megabytes) {
  constexpr std::int64_t kKiB = 1024;
  constexpr std::int64_t kGiBInMiB = 1024;
  if (megabytes > 32 * kGiBInMiB) return 128 * kKiB;
  if (megabytes > 256) return 32 * kKiB;
  return 4 * kKiB;
}

std::optional<ExfatLayout> ExfatLayoutFor(std::int64_t megabytes) {
  if (megabytes <= 0 || megabytes > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  const std::int64_t bytes = megabytes * kBytesPerMiB;
  ExfatLayout layout;
  layout.clusterBytes = ExfatClusterBytes(megabytes);
  // The FAT is sized for every cluster of the partition, before the FAT and
  // the heap's alignment take their part of it.
  layout.fatBytes = RoundUp(bytes / layout.clusterBytes * 4, layout.clusterBytes);
  layout.heapOffsetBytes = RoundUp(kBytesPerMiB + layout.fatBytes, kBytesPerMiB);
  if (layout.heapOffsetBytes > kMostExfatHeapOffset || layout.heapOffsetBytes >= bytes) return std::nullopt;
  layout.clusters = (bytes - layout.heapOffsetBytes) / layout.clusterBytes;
  if (layout.clusters > static_cast<std::int64_t>(layout::exfat::kMostClusters)) return std::nullopt;
  return layout;
}

std::optional<VolumeCapacity> FormattedCapacity(FileSystem kind, std::int64_t megabytes, std::int64_t sectorBytes) {
  if (kind == FileSystem::Fat32) {
    const auto layout = Fat32LayoutFor(megabytes, sectorBytes);
    if (!layout) return std::nullopt;
    return VolumeCapacity{layout->sectorsPerCluster * sectorBytes, layout->clusters};
  }
  if (kind == FileSystem::Exfat) {
    const auto layout = ExfatLayoutFor(megabytes);
    if (!layout) return std::nullopt;
    return VolumeCapacity{layout->clusterBytes, layout->clusters};
  }
  if (megabytes <= 0) return std::nullopt;
  // The volume leaves out the partition's last sector (the backup boot sector).
  const std::int64_t volumeSectors = megabytes * (kBytesPerMiB / sectorBytes) - 1;
  // Windows' default cluster: 4 KiB, doubled while 2^32 clusters cannot hold
  // the volume (beyond 16 TiB), up to 2 MiB.
  std::int64_t clusterBytes = kNtfsClusterBytes;
  while (volumeSectors / (clusterBytes / sectorBytes) > kMostNtfsClusters &&
         clusterBytes < layout::ntfs::kLargestClusterBytes) {
    clusterBytes *= 2;
  }
  const std::int64_t clusters = volumeSectors / (clusterBytes / sectorBytes);
  if (clusters > kMostNtfsClusters) return std::nullopt;
  return VolumeCapacity{clusterBytes, clusters};
}

std::optional<std::int32_t> ExactMegabytes(FileSystem kind, std::int32_t capacity, std::int64_t sectorBytes) {
  if (capacity <= 0 || capacity > LargestCapacity(kind, CapacityUse::Exact, sectorBytes)) return std::nullopt;
  const std::int64_t wanted = capacity * kBytesPerGiB;
  // A volume is never larger than its partition, so nothing below N GiB of
  // partition can do; from there the first size that reaches is the least.
  // The formatted size is not monotonic where the cluster size steps up, so
  // every size is tried in turn rather than bisected.
  for (std::int64_t megabytes = capacity * std::int64_t{1024}; megabytes <= std::numeric_limits<std::int32_t>::max();
       ++megabytes) {
    const auto formatted = FormattedCapacity(kind, megabytes, sectorBytes);
    if (formatted && formatted->TotalBytes() >= wanted) return static_cast<std::int32_t>(megabytes);
    // NTFS and exFAT fail, from a GiB on, only for being too large; FAT32
    // stops growing at 2^32 sectors (and fails below 65,525 clusters, which
    // only small sizes do).
    if (kind != FileSystem::Fat32 ? !formatted : megabytes * (kBytesPerMiB / sectorBytes) >= kMostFat32Sectors) break;
  }
  return std::nullopt;
}

std::int32_t LargestCapacity(FileSystem kind, CapacityUse use, std::int64_t sectorBytes) {
  constexpr std::int32_t kFigureFitsIn32Bits = MaxCapacity(FileSystemKind::Ntfs);
  if (kind == FileSystem::Ntfs) return kFigureFitsIn32Bits;
  if (use == CapacityUse::Inspected && kind == FileSystem::Exfat) {
    // The most an exFAT volume holds: its most clusters, of the largest size.
    return static_cast<std::int32_t>(
        (static_cast<std::int64_t>(layout::exfat::kMostClusters) << layout::exfat::kLargestClusterShift) /
        kBytesPerGiB);
  }
  if (kind == FileSystem::Exfat) {
    // The largest partition mkfs.exfat formats, by bisection (its layout
    // exists up to a size and not beyond), worked out once.
    static const std::int32_t largest = [] {
      std::int64_t made = 1024;
      std::int64_t refused = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
      while (refused - made > 1) {
        const std::int64_t middle = made + (refused - made) / 2;
        (ExfatLayoutFor(middle) ? made : refused) = middle;
      }
      return static_cast<std::int32_t>(FormattedCapacity(FileSystem::Exfat, made)->TotalBytes() / kBytesPerGiB);
    }();
    return largest;
  }
  switch (use) {
    case CapacityUse::Inspected:
      return static_cast<std::int32_t>(kMostFat32Sectors * kLargeSectorBytes / kBytesPerGiB);
    case CapacityUse::Exact:
      return static_cast<std::int32_t>(
          std::min(kMostFat32Sectors * sectorBytes, kMostFat32Clusters * kLargestFat32ClusterBytes) / kBytesPerGiB);
    case CapacityUse::Rule:
      break;
  }
  // The rule's figure must fit in 2^32 - 1 sectors itself.
  std::int32_t capacity = LargestCapacity(kind, CapacityUse::Exact);
  while (RoundedMegabytes(FileSystemKind::Fat32, capacity) * kSectorsPerMiB > kMostFat32Sectors) --capacity;
  return capacity;
}

std::int64_t LargestFilledMegabytes(FileSystem kind, std::int64_t sectorBytes) {
  const auto fills = [&](std::int64_t megabytes) {
    if (kind == FileSystem::Fat32 && megabytes * (kBytesPerMiB / sectorBytes) > kMostFat32Sectors) return false;
    return FormattedCapacity(kind, megabytes, sectorBytes).has_value();
  };
  // Every file system fills a GiB; past it, what fills a size fills every
  // smaller one, so the edge is found by bisection.
  std::int64_t filled = 1024;
  std::int64_t beyond = std::int64_t{1} << 44;  // 16 EiB, past every file system's end
  while (beyond - filled > 1) {
    const std::int64_t middle = filled + (beyond - filled) / 2;
    (fills(middle) ? filled : beyond) = middle;
  }
  return filled;
}

}  // namespace karvo
