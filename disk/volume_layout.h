// What a partition of a given size holds once formatted with Windows' default
// layout, counted the way Windows counts a volume's capacity (its clusters
// times their size). Integer arithmetic only; this is what checks Karvo's
// figure against file systems.
#pragma once

#include <cstdint>
#include <optional>

#include "disk/disk_bytes.h"
#include "disk/file_system.h"

namespace karvo {

// A volume as Windows reports its total size: clusters times cluster bytes.
struct VolumeCapacity {
  std::int64_t clusterBytes = 0;
  std::int64_t clusters = 0;
  constexpr std::int64_t TotalBytes() const { return clusterBytes * clusters; }
  constexpr bool operator==(const VolumeCapacity&) const = default;
};

// FAT32 as Windows lays it out: 32 reserved sectors, two FATs, nothing
// aligned, and Microsoft's default cluster size for the size, in bytes,
// whatever the sector (512 bytes, or 4096 on a 4K-native disk).
struct Fat32Layout {
  std::int64_t totalSectors = 0;
  std::int64_t sectorsPerCluster = 0;
  std::int64_t fatSectors = 0;  // one FAT
  std::int64_t clusters = 0;
};

inline constexpr std::int64_t kFat32ReservedSectors = 32;
inline constexpr std::int64_t kFat32Copies = 2;
inline constexpr std::int64_t kNtfsClusterBytes = 4096;  // up to 16 TiB
// The FAT specification's fewest clusters for FAT32; Windows reads a volume
// with fewer as FAT32 all the same when its boot sector says FAT32.
inline constexpr std::int64_t kFewestFat32Clusters = 65525;

// 4 KiB clusters up to 8 GiB, 8 KiB up to 16 GiB, 16 KiB up to 32 GiB, then
// 32 KiB (Windows' own formatter stops at 32 GiB; others go on with 32 KiB).
std::int64_t Fat32SectorsPerCluster(std::int64_t megabytes);

// The layout that mkfs.fat makes of a partition of `megabytes` with those
// settings; none when no FAT32 volume fits (too few clusters for FAT32).
// Beyond 2^32 sectors FAT32 cannot count: the volume stops there.
std::optional<Fat32Layout> Fat32LayoutFor(std::int64_t megabytes, std::int64_t sectorBytes = kSectorBytes);

// exFAT as mkfs.exfat lays it out, which takes at least as much as Windows'
// own format (its FAT at sector 128, the cluster heap close behind): one FAT
// of 4 bytes for each cluster the whole partition would hold, in whole
// clusters, from 1 MiB in; the cluster heap from the next MiB boundary after it.
struct ExfatLayout {
  std::int64_t clusterBytes = 0;
  std::int64_t fatBytes = 0;
  std::int64_t heapOffsetBytes = 0;
  std::int64_t clusters = 0;
};

// Microsoft's default exFAT clusters, which mkfs.exfat takes too: 4 KiB up
// to 256 MiB, 32 KiB up to 32 GiB, 128 KiB beyond.
std::int64_t ExfatClusterBytes(std::int64_t megabytes);

// None where mkfs.exfat makes no volume: too small for a cluster heap behind
// the FAT's MiB, or a heap offset past its 32 bits of bytes (beyond about 128 TiB).
std::optional<ExfatLayout> ExfatLayoutFor(std::int64_t megabytes);

// The capacity of a partition of `megabytes` formatted with Windows' default
// layout on sectors of `sectorBytes`: FAT32 and exFAT as above (exFAT's
// layout is in bytes, the same on either sector); NTFS with 4 KiB clusters
// (larger beyond 16 TiB, as Windows picks them), its last sector kept for
// the backup boot sector. None when the file system cannot be made.
std::optional<VolumeCapacity> FormattedCapacity(FileSystem kind, std::int64_t megabytes,
                                                std::int64_t sectorBytes = kSectorBytes);

// The least whole number of MiB whose formatted capacity reaches `capacity`
// GiB; none when no volume of that file system can (FAT32 beyond 2 TiB of
// 512-byte sectors). Defined for every capacity from 1 to
// LargestCapacity(kind, CapacityUse::Exact, sectorBytes).
std::optional<std::int32_t> ExactMegabytes(FileSystem kind, std::int32_t capacity,
                                           std::int64_t sectorBytes = kSectorBytes);

// What a capacity asked of karvo-size is for: Karvo's rule (Windows' default
// layout on 512-byte sectors), the exact figure (on the sectors given), or a
// volume that is there, of any sector size.
enum class CapacityUse { Rule, Exact, Inspected };

// The largest whole GB a user may ask for that use: where FAT32 ends (its
// 2^32 sectors: 2 TiB of 512-byte ones; on 4096-byte ones its 2^28 clusters
// of Windows' largest default, 32 KiB, at 8 TiB; a volume that is there, with
// larger clusters, up to 16 TiB; the rule's figure from 2041 GB is past the
// first), where mkfs.exfat's layout
// ends (exFAT has no rule: its figure is the exact one), where exFAT's
// clusters end (an exFAT volume that is there), or where the figure in MiB
// stops fitting in 32 bits (NTFS).
std::int32_t LargestCapacity(FileSystem kind, CapacityUse use, std::int64_t sectorBytes = kSectorBytes);

// The largest partition, in MiB, that a volume of the file system in
// Windows' default layout fills on that sector size: a larger one leaves
// space it cannot use (FAT32 past its 2^32 sectors) or cannot be made.
std::int64_t LargestFilledMegabytes(FileSystem kind, std::int64_t sectorBytes = kSectorBytes);

}  // namespace karvo
