// What a reader of boot sectors makes of a volume: the volume it found, or
// why there is none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

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

// Said to a volume of a kind karvo-size does not read.
inline constexpr std::string_view kWhatKarvoSizeReads = "karvo-size reads FAT32, NTFS and exFAT";

struct BootSectorReading {
  // Damaged: a FAT32, NTFS or exFAT volume by its boot sector (or none at
  // all: cut short) that cannot be read: impossible fields, truncated.
  Outcome outcome = Outcome::NotThisKind;
  std::optional<InspectedVolume> volume;  // found
  std::string_view problem;               // why there is no volume: one line, no full stop
  // A volume of another kind, named in `problem`: what to do with it, to
  // follow the name after a colon (kWhatKarvoSizeReads, or how to unlock it).
  std::string_view advice;
  // A volume found all the same: what was wrong (exFAT's main boot region,
  // its backup read instead).
  std::string_view note;
};

}  // namespace karvo
