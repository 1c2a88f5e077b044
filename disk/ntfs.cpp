#include "disk/volume_probe.h"

namespace karvo::probe {
namespace {

namespace ntfs = layout::ntfs;

BootSectorReading ReadNtfs(std::span<const std::uint8_t> sector) {
  const std::int64_t bytesPerSector = Count(sector, ntfs::kBytesPerSector);
  if (!SectorSizeIsValid(bytesPerSector)) return Damaged("NTFS boot sector with an impossible sector size");
  // Up to 128 sectors a cluster as a number; beyond, as a negative power of two.
  const auto clusterField = Count(sector, ntfs::kClusterField);
  std::int64_t sectorsPerCluster = 0;
  if (clusterField <= 0x80) {
    sectorsPerCluster = clusterField;
  } else if (256 - clusterField <= 20) {
    sectorsPerCluster = std::int64_t{1} << (256 - clusterField);
  }
  if (!IsPowerOfTwo(sectorsPerCluster)) return Damaged("NTFS boot sector with an impossible cluster size");
  const std::int64_t clusterBytes = sectorsPerCluster * bytesPerSector;
  if (clusterBytes > ntfs::kLargestClusterBytes) return Damaged("NTFS boot sector with an impossible cluster size");

  const std::uint64_t sectors = layout::Get(sector, ntfs::kSectors);
  if (sectors == 0) return Damaged("NTFS boot sector with no sectors");
  if (sectors > static_cast<std::uint64_t>(kMostBytes / bytesPerSector)) {
    return Damaged("NTFS boot sector whose volume size overflows");
  }
  InspectedVolume volume;
  volume.kind = FileSystem::Ntfs;
  volume.bytesPerSector = bytesPerSector;
  volume.volumeBytes = static_cast<std::int64_t>(sectors) * bytesPerSector;
  volume.capacity = {clusterBytes, static_cast<std::int64_t>(sectors) / sectorsPerCluster};
  if (volume.capacity.clusters == 0) return Damaged("NTFS boot sector with a volume smaller than a cluster");
  return Found(volume);
}

}  // namespace

// Known by its name.
const Prober kNtfs = {[](std::span<const std::uint8_t> sector) {
                        return layout::Holds(sector, layout::boot_record::kOemName, ntfs::kOemName);
                      },
                      [](std::span<const std::uint8_t> sector, const VolumeBytes&) { return ReadNtfs(sector); }};

}  // namespace karvo::probe
