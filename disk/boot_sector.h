// Reads a FAT32, NTFS or exFAT volume's capacity from its boot sector (and
// exFAT's whole boot region, checksummed), as Windows counts it: data
// clusters times cluster size; names the volumes it does not read (FAT12,
// FAT16, ReFS, BitLocker). The bytes come from anywhere (an image file, a
// block device, a fuzzer) and are trusted in nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
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

// What holds the volume, for a volume longer than what holds it.
enum class Holder { File, Partition };

// `start` is the beginning of the volume (at least kBootSectorBytes of it for
// an answer, and exFAT's boot region for an exFAT one); `sourceBytes`, when
// known, is how long the file or device is, so that a truncated image is
// told apart from a whole one.
BootSectorReading ReadBootSector(std::span<const std::uint8_t> start,
                                 std::optional<std::int64_t> sourceBytes = std::nullopt);

// The same, where the volume starts at `first` on `disk`, which gives what
// `start` does not hold: exFAT's boot regions, and the metadata block that
// BitLocker To Go's boot sector points to.
BootSectorReading ReadBootSector(std::span<const std::uint8_t> start, std::optional<std::int64_t> sourceBytes,
                                 DiskReader& disk, std::int64_t first, Holder holder = Holder::File);

// A reading's problem as one line: the name and the advice of a volume of
// another kind.
std::string ProblemLine(const BootSectorReading& reading);

}  // namespace karvo
