#include "disk/boot_sector.h"

#include <limits>

#include "disk/on_disk.h"

namespace karvo {
namespace {

constexpr std::int64_t kMostBytes = std::numeric_limits<std::int64_t>::max();

namespace fat = layout::fat;
namespace ntfs = layout::ntfs;

// A field of at most 32 bits, as a signed count that products keep inside 64.
std::int64_t Count(std::span<const std::uint8_t> bytes, layout::Field field) {
  return static_cast<std::int64_t>(layout::Get(bytes, field));
}

constexpr bool IsPowerOfTwo(std::int64_t value) { return value > 0 && (value & (value - 1)) == 0; }

// Not a FAT32 or NTFS volume at all.
BootSectorReading Problem(std::string_view why) { return Refused<BootSectorReading>(why); }

// A FAT32 or NTFS volume by its boot sector, which cannot be read all the same.
BootSectorReading Damaged(std::string_view why) {
  auto reading = Refused<BootSectorReading>(why);
  reading.damaged = true;
  return reading;
}

// The parts of a BIOS parameter block both file systems share.
bool SectorSizeIsValid(std::int64_t bytesPerSector) {
  return bytesPerSector == 512 || bytesPerSector == 1024 || bytesPerSector == 2048 || bytesPerSector == 4096;
}

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
  if (clusterBytes > 2 * kBytesPerMiB) return Damaged("NTFS boot sector with an impossible cluster size");

  const std::uint64_t sectors = layout::Get(sector, ntfs::kSectors);
  if (sectors == 0) return Damaged("NTFS boot sector with no sectors");
  if (sectors > static_cast<std::uint64_t>(kMostBytes / bytesPerSector)) {
    return Damaged("NTFS boot sector whose volume size overflows");
  }
  InspectedVolume volume;
  volume.kind = FileSystemKind::Ntfs;
  volume.bytesPerSector = bytesPerSector;
  volume.volumeBytes = static_cast<std::int64_t>(sectors) * bytesPerSector;
  volume.capacity = {clusterBytes, static_cast<std::int64_t>(sectors) / sectorsPerCluster};
  if (volume.capacity.clusters == 0) return Damaged("NTFS boot sector with a volume smaller than a cluster");
  return {volume, {}};
}

BootSectorReading ReadFat32(std::span<const std::uint8_t> sector) {
  const std::int64_t bytesPerSector = Count(sector, fat::kBytesPerSector);
  const std::int64_t sectorsPerCluster = Count(sector, fat::kSectorsPerCluster);
  const std::int64_t reserved = Count(sector, fat::kReservedSectors);
  const std::int64_t fats = Count(sector, fat::kFatCount);
  const std::int64_t rootEntries = Count(sector, fat::kRootEntries);
  const std::int64_t sectors16 = Count(sector, fat::kSectors16);
  const std::int64_t fatSize16 = Count(sector, fat::kFatSectors16);
  const std::int64_t sectors32 = Count(sector, fat::kSectors32);
  const std::int64_t fatSize32 = Count(sector, fat::kFatSectors32);

  if (!SectorSizeIsValid(bytesPerSector)) return Damaged("FAT boot sector with an impossible sector size");
  if (!IsPowerOfTwo(sectorsPerCluster) || sectorsPerCluster > 128) {
    return Damaged("FAT boot sector with an impossible cluster size");
  }
  if (rootEntries != 0 || fatSize16 != 0 || fatSize32 == 0) return Problem("a FAT12 or FAT16 volume, not FAT32");
  if (reserved == 0 || fats == 0) return Damaged("FAT boot sector with no reserved sectors or no FAT");
  const std::int64_t sectors = sectors16 != 0 ? sectors16 : sectors32;
  if (sectors == 0) return Damaged("FAT boot sector with no sectors");
  // Every field is at most 32 bits, so these products stay far inside 64.
  const std::int64_t beforeData = reserved + fats * fatSize32;
  if (beforeData >= sectors) return Damaged("FAT boot sector whose FATs are larger than the volume");
  // Fewer than 65,525 clusters is still FAT32 to Windows, which goes by the
  // boot sector alone (a FAT size of 0 in the 16-bit field); the listing says
  // that the FAT specification asks more.
  const std::int64_t clusters = (sectors - beforeData) / sectorsPerCluster;
  if (clusters == 0) return Damaged("FAT boot sector with no room for a cluster");
  if (fatSize32 * bytesPerSector / 4 < clusters + 2)
    return Damaged("FAT boot sector whose FAT cannot hold its clusters");

  InspectedVolume volume;
  volume.kind = FileSystemKind::Fat32;
  volume.bytesPerSector = bytesPerSector;
  volume.volumeBytes = sectors * bytesPerSector;
  volume.capacity = {sectorsPerCluster * bytesPerSector, clusters};
  return {volume, {}};
}

// Names a FAT12, FAT16 or exFAT volume for what it is (FAT12 by Microsoft's
// own test: fewer than 4,085 clusters); none when it is not one of them.
std::optional<std::string_view> OtherFatVolume(std::span<const std::uint8_t> sector) {
  if (layout::Holds(sector, layout::boot_record::kOemName, layout::exfat::kOemName)) {
    return "an exFAT volume: karvo-size reads FAT32 and NTFS";
  }
  const std::int64_t bytesPerSector = Count(sector, fat::kBytesPerSector);
  const std::int64_t sectorsPerCluster = Count(sector, fat::kSectorsPerCluster);
  const std::int64_t fatSize16 = Count(sector, fat::kFatSectors16);
  if (fatSize16 == 0 || !SectorSizeIsValid(bytesPerSector) || !IsPowerOfTwo(sectorsPerCluster)) return std::nullopt;
  const std::int64_t sectors16 = Count(sector, fat::kSectors16);
  const std::int64_t sectors = sectors16 != 0 ? sectors16 : Count(sector, fat::kSectors32);
  const std::int64_t rootEntries = Count(sector, fat::kRootEntries);
  const std::int64_t rootSectors =
      (rootEntries * static_cast<std::int64_t>(fat::kRootEntryBytes) + bytesPerSector - 1) / bytesPerSector;
  const std::int64_t beforeData =
      Count(sector, fat::kReservedSectors) + Count(sector, fat::kFatCount) * fatSize16 + rootSectors;
  if (beforeData >= sectors) return std::nullopt;
  return (sectors - beforeData) / sectorsPerCluster < 4085 ? "a FAT12 volume: karvo-size reads FAT32 and NTFS"
                                                           : "a FAT16 volume: karvo-size reads FAT32 and NTFS";
}

}  // namespace

BootSectorReading ReadBootSector(std::span<const std::uint8_t> start, std::optional<std::int64_t> sourceBytes) {
  if (start.size() < kBootSectorBytes) {
    return Damaged(start.empty() ? "empty: no boot sector" : "too short to hold a boot sector");
  }
  const auto sector = start.first(kBootSectorBytes);
  if (layout::Get(sector, layout::boot_record::kSignature) != layout::boot_record::kSignatureValue) {
    return Problem("no boot sector signature: not FAT32 or NTFS");
  }
  const bool isNtfs = layout::Holds(sector, layout::boot_record::kOemName, ntfs::kOemName);
  // Windows knows FAT32 by its fields (no 16-bit FAT size, a 32-bit one); the
  // type text is only a label, which some formatters leave blank.
  const bool isFat32 = layout::Holds(sector, fat::kFat32TypeText, fat::kFat32Type) ||
                       (Count(sector, fat::kFatSectors16) == 0 && Count(sector, fat::kFatSectors32) != 0);
  if (!isNtfs && !isFat32) {
    if (const auto other = OtherFatVolume(sector)) return Problem(*other);
  }
  BootSectorReading reading = isNtfs    ? ReadNtfs(sector)
                              : isFat32 ? ReadFat32(sector)
                                        : Problem("not a FAT32 or NTFS volume");
  if (reading.volume && sourceBytes && *sourceBytes < reading.volume->volumeBytes) {
    return Damaged("truncated: shorter than the volume its boot sector describes");
  }
  return reading;
}

}  // namespace karvo
