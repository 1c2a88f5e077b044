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

// All of `into`, from `offset` bytes into the volume; false where it cannot be read.
using VolumeBytes = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> into)>;

// Not a FAT32, NTFS or exFAT volume at all.
BootSectorReading Problem(std::string_view why) { return Refused<BootSectorReading>(why); }

BootSectorReading Found(const InspectedVolume& volume) {
  BootSectorReading reading;
  reading.outcome = Outcome::Found;
  reading.volume = volume;
  return reading;
}

// A volume of another kind, named, and what to do with it.
BootSectorReading OtherKind(std::string_view name, std::string_view advice) {
  auto reading = Refused<BootSectorReading>(name);
  reading.outcome = Outcome::OtherKind;
  reading.advice = advice;
  return reading;
}

// A FAT32, NTFS or exFAT volume by its boot sector, which cannot be read all the same.
BootSectorReading Damaged(std::string_view why) {
  auto reading = Refused<BootSectorReading>(why);
  reading.outcome = Outcome::Damaged;
  return reading;
}

// The sector sizes a FAT or NTFS BIOS parameter block may give.
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
  return (sectors - beforeData) / Count(sector, fat::kSectorsPerCluster) < 4085 ? "a FAT12 volume" : "a FAT16 volume";
}

// A volume that is no FAT, NTFS or exFAT one, though its first sector is
// shaped like one (BitLocker's) or not at all (ReFS's): named for what it is.
// `metadataStarts` tells whether BitLocker's metadata block lies at an offset.
std::optional<BootSectorReading> NamedOtherVolume(std::span<const std::uint8_t> sector,
                                                  const std::function<bool(std::uint64_t)>& metadataStarts) {
  namespace bitlocker = layout::bitlocker;
  constexpr std::string_view kUnlock =
      "unlock it and inspect it by its drive letter on Windows, or on Linux the device that cryptsetup open --type "
      "bitlk makes";
  if (layout::Holds(sector, layout::refs::kSignature, layout::refs::kSignatureText) &&
      layout::Holds(sector, layout::refs::kIdentifier, layout::refs::kIdentifierText)) {
    return OtherKind("a ReFS volume", kWhatKarvoSizeReads);
  }
  const auto jump = layout::Get(sector, layout::boot_record::kJump);
  if (jump != bitlocker::kVistaJump && jump != bitlocker::kJump7) return std::nullopt;
  if (layout::Holds(sector, layout::boot_record::kOemName, bitlocker::kSignatureText)) {
    return OtherKind(jump == bitlocker::kVistaJump ? "a BitLocker volume (Windows Vista)" : "a BitLocker volume",
                     kUnlock);
  }
  // BitLocker To Go: a FAT32 boot sector as Windows 98 wrote one ("MSWIN4.1")
  // is BitLocker's only with its identifier or its metadata block.
  if (jump != bitlocker::kJump7 || !layout::Holds(sector, layout::boot_record::kOemName, bitlocker::kToGoOemName)) {
    return std::nullopt;
  }
  if (layout::Holds(sector, bitlocker::kToGoIdentifier, bitlocker::kToGoIdentifierBytes) ||
      metadataStarts(layout::Get(sector, bitlocker::kToGoMetadataOffset))) {
    return OtherKind("a BitLocker To Go volume", kUnlock);
  }
  return std::nullopt;
}

// The file systems karvo-size reads, as libblkid keeps its probers: each
// knows its own boot sector, and reads it. Tried in this order: NTFS and
// exFAT by their names, then FAT32, which Windows knows by its fields (no
// 16-bit FAT size, a 32-bit one); the type text is only a label, which some
// formatters leave blank.
struct Prober {
  bool (*owns)(std::span<const std::uint8_t> sector);
  BootSectorReading (*read)(std::span<const std::uint8_t> sector, const VolumeBytes& read);
};
constexpr Prober kProbers[] = {
    {[](std::span<const std::uint8_t> sector) {
       return layout::Holds(sector, layout::boot_record::kOemName, ntfs::kOemName);
     },
     [](std::span<const std::uint8_t> sector, const VolumeBytes&) { return ReadNtfs(sector); }},
    {[](std::span<const std::uint8_t> sector) {
       return layout::Holds(sector, layout::boot_record::kOemName, layout::exfat::kOemName);
     },
     ReadExfat},
    {[](std::span<const std::uint8_t> sector) {
       return layout::Holds(sector, fat::kFat32TypeText, fat::kFat32Type) ||
              (IsFatBootSector(sector) && Count(sector, fat::kFatSectors16) == 0 &&
               Count(sector, fat::kFatSectors32) != 0);
     },
     [](std::span<const std::uint8_t> sector, const VolumeBytes&) { return ReadFat32(sector); }},
};

BootSectorReading Read(std::span<const std::uint8_t> start, std::optional<std::int64_t> sourceBytes,
                       const VolumeBytes& read, Holder holder) {
  if (start.size() < kBootSectorBytes) {
    return Damaged(start.empty() ? "empty: no boot sector" : "too short to hold a boot sector");
  }
  const auto sector = start.first(kBootSectorBytes);
  // BitLocker puts its metadata blocks on 64-byte boundaries inside the volume.
  const auto metadataStarts = [&](std::uint64_t offset) {
    std::array<std::uint8_t, layout::bitlocker::kMetadataSignature.size> signature{};
    return offset != 0 && offset % 64 == 0 && offset < kFarthestVolumeByte && read(offset, signature) &&
           layout::Holds(signature, layout::bitlocker::kMetadataSignature, layout::bitlocker::kSignatureText);
  };
  // Before any header is trusted: BitLocker's looks like FAT's.
  if (auto named = NamedOtherVolume(sector, metadataStarts)) return *named;
  if (layout::Get(sector, layout::boot_record::kSignature) != layout::boot_record::kSignatureValue) {
    return Problem("no boot sector signature: not FAT32, NTFS or exFAT");
  }
  const auto prober =
      std::find_if(std::begin(kProbers), std::end(kProbers), [&](const Prober& each) { return each.owns(sector); });
  if (prober == std::end(kProbers)) {
    if (const auto other = OtherFatVolume(sector)) return OtherKind(*other, kWhatKarvoSizeReads);
    return Problem("not a FAT32, NTFS or exFAT volume");
  }
  BootSectorReading reading = prober->read(sector, read);
  if (reading.volume && sourceBytes && *sourceBytes < reading.volume->volumeBytes) {
    return Damaged(holder == Holder::File ? "truncated: shorter than the volume its boot sector describes"
                                          : "larger than its partition: its boot sector describes more than the "
                                            "partition holds");
  }
  return reading;
}

// The bytes of `start` where it holds them; else, through `more`, the rest.
VolumeBytes Through(std::span<const std::uint8_t> start,
                    const std::function<bool(std::int64_t, std::span<std::uint8_t>)>& more) {
  return [start, more](std::uint64_t offset, std::span<std::uint8_t> into) {
    if (offset <= start.size() && into.size() <= start.size() - offset) {
      std::copy_n(start.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
      return true;
    }
    return more && offset < kFarthestVolumeByte && more(static_cast<std::int64_t>(offset), into);
  };
}

}  // namespace

BootSectorReading ReadBootSector(std::span<const std::uint8_t> start, std::optional<std::int64_t> sourceBytes) {
  return Read(start, sourceBytes, Through(start, nullptr), Holder::File);
}

BootSectorReading ReadBootSector(std::span<const std::uint8_t> start, std::optional<std::int64_t> sourceBytes,
                                 DiskReader& disk, std::int64_t first, Holder holder) {
  const auto more = [&disk, first](std::int64_t offset, std::span<std::uint8_t> into) {
    return disk.Read(first + offset, into);
  };
  return Read(start, sourceBytes, Through(start, more), holder);
}

std::string ProblemLine(const BootSectorReading& reading) {
  std::string line(reading.problem);
  if (!reading.advice.empty()) line += ": " + std::string(reading.advice);
  return line;
}

}  // namespace karvo
