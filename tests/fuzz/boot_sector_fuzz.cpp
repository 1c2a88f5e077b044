// libFuzzer target: any bytes as the start of a volume, with any claimed
// length of the file around them. The reader must answer every input with a
// volume or a reason, and a volume it accepts must make sense.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>

#include "disk/boot_sector.h"
#include "disk/explorer_size.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first eight bytes, when there are more than a sector's worth, give
  // the source's length; the rest is the volume's start.
  std::optional<std::int64_t> sourceBytes;
  if (size > karvo::kBootSectorBytes + 8) {
    std::int64_t claimed = 0;
    std::memcpy(&claimed, data, sizeof claimed);
    if (claimed >= 0) sourceBytes = claimed;
    data += 8;
    size -= 8;
  }
  const auto reading = karvo::ReadBootSector(std::span(data, size), sourceBytes);
  if (reading.volume.has_value() == !reading.problem.empty()) std::abort();
  if (reading.volume.has_value() != (reading.outcome == karvo::Outcome::Found)) std::abort();
  if (reading.volume) {
    const auto& volume = *reading.volume;
    const auto& capacity = volume.capacity;
    if (capacity.clusterBytes <= 0 || capacity.clusters <= 0) std::abort();
    if (capacity.clusters > INT64_MAX / capacity.clusterBytes) std::abort();
    if (capacity.TotalBytes() > volume.volumeBytes) std::abort();  // never more than the volume spans
    if (sourceBytes && *sourceBytes < volume.volumeBytes) std::abort();
    (void)karvo::ExplorerSizeText(capacity.TotalBytes());
  }
  return 0;
}
