// What every reader of disks and volumes shares: the sector sizes disks come
// with, the units sizes are counted in, and the source the bytes come from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace karvo {

// Windows' default layout, and the logical sector of most disks.
inline constexpr std::int64_t kSectorBytes = 512;
// A 4K-native disk's logical sector (many large USB drives; Windows 8 and later).
inline constexpr std::int64_t kLargeSectorBytes = 4096;

inline constexpr std::int64_t kBytesPerMiB = std::int64_t{1} << 20;
inline constexpr std::int64_t kBytesPerGiB = std::int64_t{1} << 30;

// How far the fields a disk holds may point before a reader takes them as
// past any disk: every offset and sum worked out from them then stays
// inside 64 bits, whatever the sector size.
inline constexpr std::uint64_t kFarthestVolumeByte = std::uint64_t{1} << 56;     // inside a volume (BitLocker, exFAT)
inline constexpr std::uint64_t kFarthestHeaderSector = std::uint64_t{1} << 48;   // a GPT header's
inline constexpr std::uint64_t kFarthestEntriesSector = std::uint64_t{1} << 40;  // a GPT's partition entries
inline constexpr std::uint64_t kMostPartitionBytes = std::uint64_t{1} << 61;     // a partition's start or size

// What a reader made of the bytes it was given.
enum class Outcome {
  NotThisKind,  // nothing it reads
  Found,        // read, perhaps with a note of what was wrong and read around
  OtherKind,    // a kind it names but does not read
  Damaged,      // one of the kinds it reads, which cannot be read
};

// A reader's answer that there is nothing to answer with: one line, no full stop.
template <typename Reading>
Reading Refused(std::string_view why) {
  Reading reading;
  reading.problem = why;
  return reading;
}

// A disk, a volume or an image of either, opened read-only by the platform.
class DiskReader {
 public:
  DiskReader() = default;
  DiskReader(const DiskReader&) = delete;
  DiskReader& operator=(const DiskReader&) = delete;
  virtual ~DiskReader() = default;

  // Reads up to `into.size()` bytes at `offset`; how many it read, fewer only
  // at the end of the source or when it cannot read on. A source that cannot
  // seek reads only where its last read ended.
  virtual std::size_t ReadAt(std::int64_t offset, std::span<std::uint8_t> into) = 0;
  // The source's length, when it is known (a pipe's is not).
  virtual std::optional<std::int64_t> SizeBytes() const = 0;
  // The logical sector size the system reports for a device; none for a file,
  // whose contents tell it.
  virtual std::optional<std::int64_t> SectorBytes() const { return std::nullopt; }
  // Whether reads may go anywhere: a pipe's go forward only.
  virtual bool CanSeek() const { return true; }

  // All of `into` from `offset`, or false.
  bool Read(std::int64_t offset, std::span<std::uint8_t> into) { return ReadAt(offset, into) == into.size(); }
};

}  // namespace karvo
