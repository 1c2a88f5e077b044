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

#include "disk/disk_bytes.h"
#include "disk/volume.h"

namespace karvo {

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
