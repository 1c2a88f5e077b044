#include "disk/boot_sector.h"

#include <algorithm>
#include <array>
#include <functional>

#include "disk/on_disk.h"
#include "disk/volume_probe.h"

namespace karvo {
namespace {

using probe::Damaged;
using probe::VolumeBytes;

// The file systems karvo-size reads, tried in this order: NTFS and exFAT by
// their names, then FAT32 by its fields.
constexpr const probe::Prober* kProbers[] = {&probe::kNtfs, &probe::kExfat, &probe::kFat32};

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
  if (auto named = probe::NamedOtherVolume(sector, metadataStarts)) return *named;
  if (layout::Get(sector, layout::boot_record::kSignature) != layout::boot_record::kSignatureValue) {
    return probe::Problem("no boot sector signature: not FAT32, NTFS or exFAT");
  }
  const auto prober = std::find_if(std::begin(kProbers), std::end(kProbers),
                                   [&](const probe::Prober* each) { return each->owns(sector); });
  if (prober == std::end(kProbers)) {
    if (const auto other = probe::OtherFatVolume(sector)) return probe::OtherKind(*other, kWhatKarvoSizeReads);
    return probe::Problem("not a FAT32, NTFS or exFAT volume");
  }
  BootSectorReading reading = (*prober)->read(sector, read);
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
