#include "disk/volume_probe.h"

namespace karvo::probe {

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

}  // namespace karvo::probe
