// What a partition of a given size holds once formatted with Windows' default
// layout, counted the way Windows counts a volume's capacity (its clusters
// times their size). Integer arithmetic only; this is what checks Karvo's
// figure against file systems.
#pragma once

#include <cstdint>
#include <optional>

#include "core/size_rounding.h"
#include "disk/disk_bytes.h"

namespace karvo {

// A volume as Windows reports its total size: clusters times cluster bytes.
struct VolumeCapacity {
  std::int64_t clusterBytes = 0;
  std::int64_t clusters = 0;
  constexpr std::int64_t TotalBytes() const { return clusterBytes * clusters; }
  constexpr bool operator==(const VolumeCapacity&) const = default;
};

// FAT32 as Windows lays it out: 512-byte sectors, 32 reserved sectors, two
// FATs, nothing aligned, and Microsoft's default cluster size for the size.
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
std::optional<Fat32Layout> Fat32LayoutFor(std::int64_t megabytes);

// The capacity of a partition of `megabytes` formatted with Windows' default
// layout: FAT32 as above; NTFS with 4 KiB clusters (larger beyond 16 TiB, as
// Windows picks them), its last sector kept for the backup boot sector. None
// when the file system cannot be made.
std::optional<VolumeCapacity> FormattedCapacity(FileSystemKind kind, std::int64_t megabytes);

// The least whole number of MiB whose formatted capacity reaches `capacity`
// GiB; none when no volume of that file system can (FAT32 beyond 2 TiB).
// Defined for every capacity from 1 to MaxCapacity(kind).
std::optional<std::int32_t> ExactMegabytes(FileSystemKind kind, std::int32_t capacity);

// What a capacity asked of karvo-size is for: Karvo's rule, the exact
// figure (both in Windows' default layout on 512-byte sectors), or a volume
// that is there, of any sector size.
enum class CapacityUse { Rule, Exact, Inspected };

// The largest whole GB a user may ask for that use: where FAT32 ends (its
// 2^32 sectors: 2 TiB of 512-byte ones, 16 TiB of 4096-byte ones, and the
// rule's figure from 2041 GB is past the first), or where the figure in MiB
// stops fitting in 32 bits.
std::int32_t LargestCapacity(FileSystemKind kind, CapacityUse use);

}  // namespace karvo
