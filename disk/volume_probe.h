// What the boot-sector reader's probers share, one file system each in a
// file of its own (as libblkid keeps them): how a prober reads fields and
// the volume's further bytes, and how it answers.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

#include "disk/on_disk.h"
#include "disk/volume.h"

namespace karvo::probe {

inline constexpr std::int64_t kMostBytes = std::numeric_limits<std::int64_t>::max();

// A field of at most 32 bits, as a signed count that products keep inside 64.
inline std::int64_t Count(std::span<const std::uint8_t> bytes, layout::Field field) {
  return static_cast<std::int64_t>(layout::Get(bytes, field));
}

constexpr bool IsPowerOfTwo(std::int64_t value) { return value > 0 && (value & (value - 1)) == 0; }

// The sector sizes a FAT or NTFS BIOS parameter block may give.
constexpr bool SectorSizeIsValid(std::int64_t bytesPerSector) {
  return bytesPerSector == 512 || bytesPerSector == 1024 || bytesPerSector == 2048 || bytesPerSector == 4096;
}

// All of `into`, from `offset` bytes into the volume; false where it cannot be read.
using VolumeBytes = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> into)>;

// Not a FAT32, NTFS or exFAT volume at all.
inline BootSectorReading Problem(std::string_view why) { return Refused<BootSectorReading>(why); }

inline BootSectorReading Found(const InspectedVolume& volume) {
  BootSectorReading reading;
  reading.outcome = Outcome::Found;
  reading.volume = volume;
  return reading;
}

// A volume of another kind, named, and what to do with it.
inline BootSectorReading OtherKind(std::string_view name, std::string_view advice) {
  auto reading = Refused<BootSectorReading>(name);
  reading.outcome = Outcome::OtherKind;
  reading.advice = advice;
  return reading;
}

// A FAT32, NTFS or exFAT volume by its boot sector, which cannot be read all the same.
inline BootSectorReading Damaged(std::string_view why) {
  auto reading = Refused<BootSectorReading>(why);
  reading.outcome = Outcome::Damaged;
  return reading;
}

// A file system karvo-size reads: whether a boot sector is its own, and what
// it reads there, from the sector and, where it needs more, the volume.
struct Prober {
  bool (*owns)(std::span<const std::uint8_t> sector);
  BootSectorReading (*read)(std::span<const std::uint8_t> sector, const VolumeBytes& volume);
};

extern const Prober kNtfs;
extern const Prober kExfat;
extern const Prober kFat32;

// A FAT12 or FAT16 volume named for what it is; none when it is not one of them.
std::optional<std::string_view> OtherFatVolume(std::span<const std::uint8_t> sector);

// A volume that is no FAT, NTFS or exFAT one, though its first sector is
// shaped like one (BitLocker's) or not at all (ReFS's): named for what it is.
// `metadataStarts` tells whether BitLocker's metadata block lies at an offset.
std::optional<BootSectorReading> NamedOtherVolume(std::span<const std::uint8_t> sector,
                                                  const std::function<bool(std::uint64_t)>& metadataStarts);

}  // namespace karvo::probe
