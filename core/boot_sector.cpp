#include "boot_sector.h"

#include <algorithm>
#include <limits>

namespace karvo {
namespace {

constexpr std::int64_t kMostBytes = std::numeric_limits<std::int64_t>::max();

// A field of at most 32 bits, as a signed count that products keep inside 64.
std::int64_t Field(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size) {
  return static_cast<std::int64_t>(LittleEndian(bytes, at, size));
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
  const std::int64_t bytesPerSector = Field(sector, 11, 2);
  if (!SectorSizeIsValid(bytesPerSector)) return Damaged("NTFS boot sector with an impossible sector size");
  // Up to 128 sectors a cluster as a number; beyond, as a negative power of two.
  const std::uint8_t clusterField = sector[13];
  std::int64_t sectorsPerCluster = 0;
  if (clusterField <= 0x80) {
    sectorsPerCluster = clusterField;
  } else if (256 - clusterField <= 20) {
    sectorsPerCluster = std::int64_t{1} << (256 - clusterField);
  }
  if (!IsPowerOfTwo(sectorsPerCluster)) return Damaged("NTFS boot sector with an impossible cluster size");
  const std::int64_t clusterBytes = sectorsPerCluster * bytesPerSector;
  if (clusterBytes > 2 * kBytesPerMiB) return Damaged("NTFS boot sector with an impossible cluster size");

  const std::uint64_t sectors = LittleEndian(sector, 0x28, 8);
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
  const std::int64_t bytesPerSector = Field(sector, 11, 2);
  const std::int64_t sectorsPerCluster = sector[13];
  const std::int64_t reserved = Field(sector, 14, 2);
  const std::int64_t fats = sector[16];
  const std::int64_t rootEntries = Field(sector, 17, 2);
  const std::int64_t sectors16 = Field(sector, 19, 2);
  const std::int64_t fatSize16 = Field(sector, 22, 2);
  const std::int64_t sectors32 = Field(sector, 32, 4);
  const std::int64_t fatSize32 = Field(sector, 36, 4);

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
  constexpr std::string_view kExfatName = "EXFAT   ";
  if (std::equal(kExfatName.begin(), kExfatName.end(), sector.begin() + 3)) {
    return "an exFAT volume: karvo-size reads FAT32 and NTFS";
  }
  const std::int64_t bytesPerSector = Field(sector, 11, 2);
  const std::int64_t sectorsPerCluster = sector[13];
  const std::int64_t fatSize16 = Field(sector, 22, 2);
  if (fatSize16 == 0 || !SectorSizeIsValid(bytesPerSector) || !IsPowerOfTwo(sectorsPerCluster)) return std::nullopt;
  const std::int64_t sectors16 = Field(sector, 19, 2);
  const std::int64_t sectors = sectors16 != 0 ? sectors16 : Field(sector, 32, 4);
  const std::int64_t rootEntries = Field(sector, 17, 2);
  const std::int64_t rootSectors = (rootEntries * 32 + bytesPerSector - 1) / bytesPerSector;
  const std::int64_t beforeData = Field(sector, 14, 2) + std::int64_t{sector[16]} * fatSize16 + rootSectors;
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
  if (sector[510] != 0x55 || sector[511] != 0xAA) return Problem("no boot sector signature: not FAT32 or NTFS");

  constexpr std::string_view kNtfsName = "NTFS    ";
  const bool ntfs = std::equal(kNtfsName.begin(), kNtfsName.end(), sector.begin() + 3);
  constexpr std::string_view kFat32Type = "FAT32   ";
  const bool fat = std::equal(kFat32Type.begin(), kFat32Type.end(), sector.begin() + 82) ||
                   (Field(sector, 22, 2) == 0 && Field(sector, 36, 4) != 0);
  if (!ntfs && !fat) {
    if (const auto other = OtherFatVolume(sector)) return Problem(*other);
  }
  BootSectorReading reading = ntfs ? ReadNtfs(sector) : fat ? ReadFat32(sector) : Problem("not a FAT32 or NTFS volume");
  if (reading.volume && sourceBytes && *sourceBytes < reading.volume->volumeBytes) {
    return Damaged("truncated: shorter than the volume its boot sector describes");
  }
  return reading;
}

}  // namespace karvo
