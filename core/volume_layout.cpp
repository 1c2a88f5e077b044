#include "volume_layout.h"

#include <charconv>
#include <limits>

namespace karvo {
namespace {

constexpr std::int64_t kSectorsPerMiB = kBytesPerMiB / kSectorBytes;
constexpr std::int64_t kMostFat32Sectors = std::numeric_limits<std::uint32_t>::max();  // a 32-bit field
constexpr std::int64_t kFewestFat32Clusters = 65525;                                   // fewer make it FAT16 to Windows
constexpr std::int64_t kMostFat32Clusters = (std::int64_t{1} << 28) - 16;
constexpr std::int64_t kMostNtfsClusters = std::numeric_limits<std::uint32_t>::max();

constexpr std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }

// floor(bytes * scale / 2^shift), exactly, for any non-negative 64-bit size
// and a scale of at most 100. Past 2^32 the size is split in two halves so
// that no product leaves 64 bits.
constexpr std::int64_t ScaledDown(std::int64_t bytes, std::int64_t scale, int shift) {
  if (shift < 32) return bytes * scale >> shift;
  const std::int64_t high = (bytes >> 32) * scale;
  const std::int64_t low = (bytes & 0xFFFFFFFF) * scale;
  return (high + (low >> 32)) >> (shift - 32);
}

template <typename Text>
void AppendNumber(Text& text, std::int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.Append(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

}  // namespace

std::int64_t Fat32SectorsPerCluster(std::int64_t megabytes) {
  constexpr std::int64_t kGiBInMiB = 1024;
  if (megabytes > 32 * kGiBInMiB) return 64;
  if (megabytes > 16 * kGiBInMiB) return 32;
  if (megabytes > 8 * kGiBInMiB) return 16;
  return 8;
}

std::optional<Fat32Layout> Fat32LayoutFor(std::int64_t megabytes) {
  if (megabytes <= 0 || megabytes > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  Fat32Layout layout;
  layout.sectorsPerCluster = Fat32SectorsPerCluster(megabytes);
  const std::int64_t sectors = megabytes * kSectorsPerMiB;
  layout.totalSectors = sectors < kMostFat32Sectors ? sectors : kMostFat32Sectors;

  // As mkfs.fat sizes the FAT: a first guess at the clusters, counting four
  // bytes of each FAT for each; the FAT that holds them and the two reserved
  // entries; then the clusters that really fit beside the two FATs.
  const std::int64_t fatAndData = layout.totalSectors - kFat32ReservedSectors;
  const std::int64_t guess =
      (fatAndData * kSectorBytes + kFat32Copies * 8) / (layout.sectorsPerCluster * kSectorBytes + kFat32Copies * 4);
  layout.fatSectors = CeilDiv((guess + 2) * 4, kSectorBytes);
  layout.clusters = (fatAndData - kFat32Copies * layout.fatSectors) / layout.sectorsPerCluster;

  const std::int64_t fatEntries = layout.fatSectors * kSectorBytes / 4;
  if (layout.clusters < kFewestFat32Clusters || layout.clusters > kMostFat32Clusters || layout.clusters > fatEntries) {
    return std::nullopt;
  }
  return layout;
}

std::int64_t MicrosoftFat32FatSectors(std::int64_t totalSectors, std::int64_t sectorsPerCluster) {
  const std::int64_t rest = totalSectors - kFat32ReservedSectors;  // no root directory region on FAT32
  const std::int64_t perFatSector = (256 * sectorsPerCluster + kFat32Copies) / 2;
  return (rest + perFatSector - 1) / perFatSector;
}

std::optional<VolumeCapacity> FormattedCapacity(FileSystemKind kind, std::int64_t megabytes) {
  if (kind == FileSystemKind::Fat32) {
    const auto layout = Fat32LayoutFor(megabytes);
    if (!layout) return std::nullopt;
    return VolumeCapacity{layout->sectorsPerCluster * kSectorBytes, layout->clusters};
  }
  if (megabytes <= 0) return std::nullopt;
  // The volume leaves out the partition's last sector (the backup boot sector).
  const std::int64_t volumeSectors = megabytes * kSectorsPerMiB - 1;
  const std::int64_t clusters = volumeSectors / (kNtfsClusterBytes / kSectorBytes);
  if (clusters > kMostNtfsClusters) return std::nullopt;
  return VolumeCapacity{kNtfsClusterBytes, clusters};
}

std::optional<std::int32_t> ExactMegabytes(FileSystemKind kind, std::int32_t capacity) {
  if (capacity <= 0 || capacity > MaxCapacity(kind)) return std::nullopt;
  const std::int64_t wanted = capacity * kBytesPerGiB;
  // A volume is never larger than its partition, so nothing below N GiB of
  // partition can do; from there the first size that reaches is the least.
  // The formatted size is not monotonic where the cluster size steps up, so
  // every size is tried in turn rather than bisected.
  for (std::int64_t megabytes = capacity * std::int64_t{1024}; megabytes <= std::numeric_limits<std::int32_t>::max();
       ++megabytes) {
    const auto formatted = FormattedCapacity(kind, megabytes);
    if (formatted && formatted->TotalBytes() >= wanted) return static_cast<std::int32_t>(megabytes);
    // NTFS only ever fails for being too large; FAT32 stops growing at 2^32
    // sectors (and fails below 65,525 clusters, which only small sizes do).
    if (kind == FileSystemKind::Ntfs ? !formatted : megabytes * kSectorsPerMiB >= kMostFat32Sectors) break;
  }
  return std::nullopt;
}

SizeText ExplorerSizeText(std::int64_t bytes) {
  SizeText text;
  if (bytes < 1024) {
    AppendNumber(text, bytes);
    text.Append(" bytes");
    return text;
  }
  constexpr std::string_view kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  int unit = 0;
  // The first unit in which the size is below 1,000: 1,000 KB is "0.97 MB".
  while (unit + 1 < 6 && ScaledDown(bytes, 1, 10 * (unit + 1)) >= 1000) ++unit;
  const int shift = 10 * (unit + 1);
  const std::int64_t hundredths = ScaledDown(bytes, 100, shift);
  if (hundredths < 1000) {  // below 10: two decimals
    AppendNumber(text, hundredths / 100);
    text.Append(hundredths % 100 < 10 ? ".0" : ".");
    AppendNumber(text, hundredths % 100);
  } else if (hundredths < 10000) {  // below 100: one decimal
    const std::int64_t tenths = ScaledDown(bytes, 10, shift);
    AppendNumber(text, tenths / 10);
    text.Append(".");
    AppendNumber(text, tenths % 10);
  } else {
    AppendNumber(text, ScaledDown(bytes, 1, shift));
  }
  text.Append(" ");
  text.Append(kUnits[unit]);
  return text;
}

}  // namespace karvo
