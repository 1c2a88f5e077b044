#include <algorithm>
#include <array>

#include "disk/volume_probe.h"

namespace karvo::probe {
namespace {

namespace exfat = layout::exfat;

// 512 to 4096 bytes, as a power of two.
constexpr bool IsExfatSectorShift(std::int64_t shift) { return shift >= 9 && shift <= 12; }

// The boot region from `firstSector` (0 for the main one, 12 for its backup)
// at the sector size its boot sector gives: exFAT's jump, and the checksum
// of its first eleven sectors, but for the fields that change as the volume
// is used, written all over the twelfth. Windows and Linux mount no volume
// whose main boot region fails it.
bool IsSoundBootRegion(std::span<const std::uint8_t> bootSector, const VolumeBytes& read, std::uint64_t firstSector) {
  const std::int64_t sectorShift = Count(bootSector, exfat::kBytesPerSectorShift);
  if (layout::Get(bootSector, layout::boot_record::kJump) != exfat::kJump || !IsExfatSectorShift(sectorShift)) {
    return false;
  }
  std::array<std::uint8_t, kLargeSectorBytes> buffer{};
  const auto sector = std::span(buffer).first(std::size_t{1} << sectorShift);
  const auto skipped = [](std::size_t at) {
    return (at >= exfat::kVolumeFlags.offset && at < exfat::kVolumeFlags.End()) || at == exfat::kPercentInUse.offset;
  };
  std::uint32_t checksum = 0;
  for (std::uint64_t i = 0; i <= exfat::kChecksummedSectors; ++i) {
    if (!read((firstSector + i) << sectorShift, sector)) return false;
    if (i == exfat::kChecksummedSectors) break;
    for (std::size_t at = 0; at < sector.size(); ++at) {
      if (i == 0 && skipped(at)) continue;
      checksum = ((checksum & 1) != 0 ? 0x80000000U : 0U) + (checksum >> 1) + sector[at];
    }
  }
  for (std::size_t at = 0; at < sector.size(); at += 4) {
    if (layout::Get(sector, {at, 4}) != checksum) return false;
  }
  return true;
}

BootSectorReading ReadExfatFields(std::span<const std::uint8_t> sector) {
  const auto mustBeZero = layout::Bytes(sector, exfat::kMustBeZero);
  if (std::any_of(mustBeZero.begin(), mustBeZero.end(), [](std::uint8_t b) { return b != 0; })) {
    return Damaged("exFAT boot sector whose bytes 11 to 63 are not all zero");
  }
  if (layout::Get(sector, exfat::kRevision) >> 8 != exfat::kMajorRevision) {
    return Damaged("exFAT boot sector of a revision other than 1, which no Windows reads");
  }
  const std::int64_t sectorShift = Count(sector, exfat::kBytesPerSectorShift);
  const std::int64_t clusterShift = Count(sector, exfat::kSectorsPerClusterShift);
  if (clusterShift > exfat::kLargestClusterShift - sectorShift) {
    return Damaged("exFAT boot sector with an impossible cluster size");
  }
  const std::int64_t fats = Count(sector, exfat::kFatCount);
  if (fats != 1 && fats != 2) return Damaged("exFAT boot sector with an impossible number of FATs");
  const std::uint64_t sectors = layout::Get(sector, exfat::kVolumeLength);
  if (sectors == 0) return Damaged("exFAT boot sector with no sectors");
  if (sectors > static_cast<std::uint64_t>(kMostBytes >> sectorShift)) {
    return Damaged("exFAT boot sector whose volume size overflows");
  }
  // Every field below is at most 32 bits, so these sums and products stay far inside 64.
  const std::int64_t fatOffset = Count(sector, exfat::kFatOffset);
  const std::int64_t fatLength = Count(sector, exfat::kFatLength);
  const std::int64_t heapOffset = Count(sector, exfat::kClusterHeapOffset);
  const std::int64_t clusters = Count(sector, exfat::kClusterCount);
  const std::int64_t rootCluster = Count(sector, exfat::kRootCluster);
  if (clusters == 0 || clusters > static_cast<std::int64_t>(exfat::kMostClusters)) {
    return Damaged("exFAT boot sector with no clusters or too many");
  }
  if (fatOffset < static_cast<std::int64_t>(exfat::kBootRegionsSectors)) {
    return Damaged("exFAT boot sector whose FAT lies in its boot region");
  }
  if ((fatLength << sectorShift) < (clusters + 2) * 4)
    return Damaged("exFAT boot sector whose FAT cannot hold its clusters");
  if (heapOffset < fatOffset + fats * fatLength) return Damaged("exFAT boot sector whose FATs run into its clusters");
  if (heapOffset + (clusters << clusterShift) > static_cast<std::int64_t>(sectors)) {
    return Damaged("exFAT boot sector whose clusters run past the volume");
  }
  if (rootCluster < 2 || rootCluster > clusters + 1) {
    return Damaged("exFAT boot sector whose root directory is not among its clusters");
  }
  InspectedVolume volume;
  volume.kind = FileSystem::Exfat;
  volume.bytesPerSector = std::int64_t{1} << sectorShift;
  volume.volumeBytes = static_cast<std::int64_t>(sectors) << sectorShift;
  volume.capacity = {std::int64_t{1} << (sectorShift + clusterShift), clusters};
  return Found(volume);
}

// The main boot region, or where it fails its checks a whole backup, with a
// note that says so; both failing, a damaged volume.
BootSectorReading ReadExfat(std::span<const std::uint8_t> sector, const VolumeBytes& read) {
  if (IsSoundBootRegion(sector, read, 0)) return ReadExfatFields(sector);
  const bool jumpIsExfats = layout::Get(sector, layout::boot_record::kJump) == exfat::kJump;
  // The backup at the sector size it gives itself: the main one's may be what is damaged.
  std::array<std::uint8_t, kBootSectorBytes> backup{};
  for (std::int64_t shift = 9; shift <= 12; ++shift) {
    if (read(exfat::kBootRegionSectors << shift, backup) &&
        layout::Holds(backup, layout::boot_record::kOemName, exfat::kOemName) &&
        Count(backup, exfat::kBytesPerSectorShift) == shift &&
        IsSoundBootRegion(backup, read, exfat::kBootRegionSectors)) {
      BootSectorReading reading = ReadExfatFields(backup);
      reading.note = jumpIsExfats
                         ? "exFAT boot region whose checksum does not match: read from its backup, which is whole"
                         : "exFAT boot sector without exFAT's jump: read from the backup boot region, which is whole";
      return reading;
    }
  }
  if (!IsExfatSectorShift(Count(sector, exfat::kBytesPerSectorShift))) {
    return Damaged("exFAT boot sector with an impossible sector size");
  }
  return Damaged(jumpIsExfats ? "exFAT boot region whose checksum does not match, and no whole backup"
                              : "exFAT boot sector without exFAT's jump, and no whole backup");
}

}  // namespace

// Known by its name; read from its main boot region or its backup.
const Prober kExfat = {[](std::span<const std::uint8_t> sector) {
                         return layout::Holds(sector, layout::boot_record::kOemName, exfat::kOemName);
                       },
                       ReadExfat};

}  // namespace karvo::probe
