// Reads a FAT32, NTFS or exFAT volume's capacity from its boot sector, as
// Windows counts it: data clusters times cluster size; names the volumes it
// does not read (FAT12, FAT16, ReFS, BitLocker). The bytes come from anywhere
// (an image file, a block device, a fuzzer) and are trusted in nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/size_rounding.h"
#include "disk/disk_bytes.h"
#include "disk/volume_layout.h"

namespace karvo {

// The bytes a reader needs from the start of a volume.
inline constexpr std::size_t kBootSectorBytes = kSectorBytes;

struct InspectedVolume {
  FileSystem kind = FileSystem::Ntfs;
  std::int64_t bytesPerSector = 0;
  std::int64_t volumeBytes = 0;  // what the boot sector says the volume spans
  VolumeCapacity capacity;
};

struct BootSectorReading {
  std::optional<InspectedVolume> volume;
  std::string_view problem;  // why there is no volume: one line, no full stop
  // A FAT32, NTFS or exFAT volume by its boot sector (or none at all: cut short)
  // that cannot be read: impossible fields, truncated.
  bool damaged = false;
};

// `start` is the beginning of the volume (at least kBootSectorBytes of it for
// an answer); `sourceBytes`, when known, is how long the file or device is,
// so that a truncated image is told apart from a whole one.
BootSectorReading ReadBootSector(std::span<const std::uint8_t> start,
                                 std::optional<std::int64_t> sourceBytes = std::nullopt);

// The same, where the volume starts at `first` on `disk`: BitLocker To Go is
// also known by the metadata block its boot sector points to.
BootSectorReading ReadBootSector(std::span<const std::uint8_t> start, std::optional<std::int64_t> sourceBytes,
                                 DiskReader& disk, std::int64_t first);

}  // namespace karvo
