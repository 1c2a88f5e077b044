#include "disk/boot_sector.h"

#include <algorithm>
#include <array>
#include <functional>
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
  volume.kind = FileSystem::Ntfs;
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
  volume.kind = FileSystem::Fat32;
  volume.bytesPerSector = bytesPerSector;
  volume.volumeBytes = sectors * bytesPerSector;
  volume.capacity = {sectorsPerCluster * bytesPerSector, clusters};
  return {volume, {}};
}

BootSectorReading ReadExfat(std::span<const std::uint8_t> sector) {
  namespace exfat = layout::exfat;
  const auto mustBeZero = layout::Bytes(sector, exfat::kMustBeZero);
  if (std::any_of(mustBeZero.begin(), mustBeZero.end(), [](std::uint8_t b) { return b != 0; })) {
    return Damaged("exFAT boot sector whose bytes 11 to 63 are not all zero");
  }
  const std::int64_t sectorShift = Count(sector, exfat::kBytesPerSectorShift);
  const std::int64_t clusterShift = Count(sector, exfat::kSectorsPerClusterShift);
  if (sectorShift < 9 || sectorShift > 12) return Damaged("exFAT boot sector with an impossible sector size");
  if (clusterShift > 25 - sectorShift) return Damaged("exFAT boot sector with an impossible cluster size");
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
  if (fatOffset < static_cast<std::int64_t>(exfat::kBootRegionSectors)) {
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
  return {volume, {}};
}

// A FAT boot sector as Windows' FAT driver and Linux's take one: a jump, a
// media byte, reserved sectors and FATs, sectors and clusters of sizes that
// exist. A volume of another kind whose first sector looks a little like one
// (OS/2's HPFS) is not FAT.
bool IsFatBootSector(std::span<const std::uint8_t> sector) {
  // 0xEB (a short jump, then 0x90) or 0xE9.
  const auto jump = layout::Get(sector, layout::boot_record::kJump) & 0xFF;
  const auto media = layout::Get(sector, fat::kMedia);
  const std::int64_t sectorsPerCluster = Count(sector, fat::kSectorsPerCluster);
  return (jump == 0xEB || jump == 0xE9) && (media == 0xF0 || media >= 0xF8) &&
         Count(sector, fat::kReservedSectors) != 0 && Count(sector, fat::kFatCount) != 0 &&
         SectorSizeIsValid(Count(sector, fat::kBytesPerSector)) && IsPowerOfTwo(sectorsPerCluster) &&
         sectorsPerCluster <= 128;
}

// Names a FAT12 or FAT16 volume for what it is (FAT12 by Microsoft's own
// test: fewer than 4,085 clusters); none when it is not one of them.
std::optional<std::string_view> OtherFatVolume(std::span<const std::uint8_t> sector) {
  const std::int64_t bytesPerSector = Count(sector, fat::kBytesPerSector);
  const std::int64_t fatSize16 = Count(sector, fat::kFatSectors16);
  if (fatSize16 == 0 || !IsFatBootSector(sector)) return std::nullopt;
  const std::int64_t sectors16 = Count(sector, fat::kSectors16);
  const std::int64_t sectors = sectors16 != 0 ? sectors16 : Count(sector, fat::kSectors32);
  const std::int64_t rootEntries = Count(sector, fat::kRootEntries);
  const std::int64_t rootSectors =
      (rootEntries * static_cast<std::int64_t>(fat::kRootEntryBytes) + bytesPerSector - 1) / bytesPerSector;
  const std::int64_t beforeData =
      Count(sector, fat::kReservedSectors) + Count(sector, fat::kFatCount) * fatSize16 + rootSectors;
  if (beforeData >= sectors) return std::nullopt;
  return (sectors - beforeData) / Count(sector, fat::kSectorsPerCluster) < 4085
             ? "a FAT12 volume: karvo-size reads FAT32, NTFS and exFAT"
             : "a FAT16 volume: karvo-size reads FAT32, NTFS and exFAT";
}

// A volume that is no FAT, NTFS or exFAT one, though its first sector is
// shaped like one (BitLocker's) or not at all (ReFS's): named for what it is.
// `metadataStarts` tells whether BitLocker's metadata block lies at an offset.
std::optional<std::string_view> NamedOtherVolume(std::span<const std::uint8_t> sector,
                                                 const std::function<bool(std::uint64_t)>& metadataStarts) {
  namespace bitlocker = layout::bitlocker;
  if (layout::Holds(sector, layout::refs::kSignature, layout::refs::kSignatureText) &&
      layout::Holds(sector, layout::refs::kIdentifier, layout::refs::kIdentifierText)) {
    return "a ReFS volume: karvo-size reads FAT32, NTFS and exFAT";
  }
  const auto jump = layout::Get(sector, layout::boot_record::kJump);
  if (jump != bitlocker::kVistaJump && jump != bitlocker::kJump7) return std::nullopt;
  if (layout::Holds(sector, layout::boot_record::kOemName, bitlocker::kSignatureText)) {
    // Each says how to read what it holds.
    return jump == bitlocker::kVistaJump
               ? "a BitLocker volume (Windows Vista): unlock it and inspect it by its drive letter on Windows, or on "
                 "Linux the device that cryptsetup open --type bitlk makes"
               : "a BitLocker volume: unlock it and inspect it by its drive letter on Windows, or on Linux the device "
                 "that cryptsetup open --type bitlk makes";
  }
  // BitLocker To Go: a FAT32 boot sector as Windows 98 wrote one ("MSWIN4.1")
  // is BitLocker's only with its identifier or its metadata block.
  if (jump != bitlocker::kJump7 || !layout::Holds(sector, layout::boot_record::kOemName, bitlocker::kToGoOemName)) {
    return std::nullopt;
  }
  if (layout::Holds(sector, bitlocker::kToGoIdentifier, bitlocker::kToGoIdentifierBytes) ||
      metadataStarts(layout::Get(sector, bitlocker::kToGoMetadataOffset))) {
    return "a BitLocker To Go volume: unlock it and inspect it by its drive letter on Windows, or on Linux the "
           "device that cryptsetup open --type bitlk makes";
  }
  return std::nullopt;
}

BootSectorReading Read(std::span<const std::uint8_t> start, std::optional<std::int64_t> sourceBytes,
                       const std::function<bool(std::uint64_t)>& metadataStarts) {
  if (start.size() < kBootSectorBytes) {
    return Damaged(start.empty() ? "empty: no boot sector" : "too short to hold a boot sector");
  }
  const auto sector = start.first(kBootSectorBytes);
  // Before any header is trusted: BitLocker's looks like FAT's.
  if (const auto named = NamedOtherVolume(sector, metadataStarts)) return Problem(*named);
  if (layout::Get(sector, layout::boot_record::kSignature) != layout::boot_record::kSignatureValue) {
    return Problem("no boot sector signature: not FAT32, NTFS or exFAT");
  }
  const bool isNtfs = layout::Holds(sector, layout::boot_record::kOemName, ntfs::kOemName);
  const bool isExfat = layout::Holds(sector, layout::boot_record::kOemName, layout::exfat::kOemName);
  // Windows knows FAT32 by its fields (no 16-bit FAT size, a 32-bit one); the
  // type text is only a label, which some formatters leave blank.
  const bool isFat32 =
      layout::Holds(sector, fat::kFat32TypeText, fat::kFat32Type) ||
      (IsFatBootSector(sector) && Count(sector, fat::kFatSectors16) == 0 && Count(sector, fat::kFatSectors32) != 0);
  if (!isNtfs && !isExfat && !isFat32) {
    if (const auto other = OtherFatVolume(sector)) return Problem(*other);
  }
  BootSectorReading reading = isNtfs    ? ReadNtfs(sector)
                              : isExfat ? ReadExfat(sector)
                              : isFat32 ? ReadFat32(sector)
                                        : Problem("not a FAT32, NTFS or exFAT volume");
  if (reading.volume && sourceBytes && *sourceBytes < reading.volume->volumeBytes) {
    return Damaged("truncated: shorter than the volume its boot sector describes");
  }
  return reading;
}

}  // namespace

BootSectorReading ReadBootSector(std::span<const std::uint8_t> start, std::optional<std::int64_t> sourceBytes) {
  return Read(start, sourceBytes, [](std::uint64_t) { return false; });
}

BootSectorReading ReadBootSector(std::span<const std::uint8_t> start, std::optional<std::int64_t> sourceBytes,
                                 DiskReader& disk, std::int64_t first) {
  return Read(start, sourceBytes, [&](std::uint64_t offset) {
    std::array<std::uint8_t, layout::bitlocker::kMetadataSignature.size> signature{};
    // BitLocker puts its metadata blocks on 64-byte boundaries inside the volume.
    return offset != 0 && offset % 64 == 0 && offset < (std::uint64_t{1} << 56) &&
           disk.Read(first + static_cast<std::int64_t>(offset), signature) &&
           layout::Holds(signature, layout::bitlocker::kMetadataSignature, layout::bitlocker::kSignatureText);
  });
}

}  // namespace karvo
