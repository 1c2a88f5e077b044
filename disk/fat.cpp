#include "disk/volume_probe.h"

namespace karvo::probe {
namespace {

namespace fat = layout::fat;

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
  if (rootEntries != 0 || fatSize16 != 0 || fatSize32 == 0)
    return OtherKind("a FAT12 or FAT16 volume, not FAT32", kWhatKarvoSizeReads);
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
  return Found(volume);
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

}  // namespace

// Known by its type text, or, as Windows knows it, by its fields: no 16-bit
// FAT size, a 32-bit one (the type text is only a label, which some
// formatters leave blank).
const Prober kFat32 = {[](std::span<const std::uint8_t> sector) {
                         return layout::Holds(sector, fat::kFat32TypeText, fat::kFat32Type) ||
                                (IsFatBootSector(sector) && Count(sector, fat::kFatSectors16) == 0 &&
                                 Count(sector, fat::kFatSectors32) != 0);
                       },
                       [](std::span<const std::uint8_t> sector, const VolumeBytes&) { return ReadFat32(sector); }};

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
  return (sectors - beforeData) / Count(sector, fat::kSectorsPerCluster) < 4085 ? "a FAT12 volume" : "a FAT16 volume";
}

}  // namespace karvo::probe
