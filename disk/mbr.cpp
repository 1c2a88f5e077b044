#include "disk/mbr.h"

#include <array>
#include <string_view>
#include <utility>

#include "disk/on_disk.h"
#include "disk/partition_kind.h"

namespace karvo {
namespace {

namespace mbr = layout::mbr;

struct Entry {
  std::uint8_t type = 0;
  bool active = false;
  std::uint64_t first = 0;  // in sectors, from the start of what it is relative to
  std::uint64_t sectors = 0;
};

Entry ReadEntry(std::span<const std::uint8_t> record, std::size_t slot) {
  const auto entry = layout::Bytes(record, mbr::Entry(slot));
  return {static_cast<std::uint8_t>(layout::Get(entry, mbr::kType)), layout::Get(entry, mbr::kBootFlag) == mbr::kActive,
          layout::Get(entry, mbr::kFirstSector), layout::Get(entry, mbr::kSectors)};
}

bool HasSignature(std::span<const std::uint8_t> sector) {
  return sector.size() >= layout::boot_record::kBytes &&
         layout::Get(sector, layout::boot_record::kSignature) == layout::boot_record::kSignatureValue;
}

bool IsExtended(std::uint8_t type) {
  const PartitionKind* kind = FindMbrKind(type);
  return kind != nullptr && kind->extended;
}

// An MBR type's number and, for a known one, its name; whether Windows
// keeps FAT32, NTFS or exFAT volumes in it.
Partition Named(const Entry& entry, int number) {
  Partition named;
  named.number = number;
  named.active = entry.active;
  named.extended = IsExtended(entry.type);
  named.type = MbrTypeName(entry.type);
  named.code = entry.type;
  named.kind = FindMbrKind(entry.type);
  if (named.kind != nullptr) named.windowsType = named.kind->windows;
  return named;
}

// The logical partitions: a chain of extended boot records, each naming one
// partition and the next record, inside the extended partition. A record
// that cannot be read ends the chain where it breaks; what came before stays.
// False when the table is full.
bool ReadLogical(PartitionTable& table, DiskReader& disk, const Entry& extended, int extendedNumber, int& number,
                 std::optional<std::int64_t> diskBytes) {
  const std::uint64_t end = extended.first + extended.sectors;
  std::uint64_t record = extended.first;
  for (std::size_t links = 0; links < PartitionTable::kMostPartitions; ++links) {
    std::array<std::uint8_t, layout::boot_record::kBytes> sector{};
    if (!disk.Read(static_cast<std::int64_t>(record) * table.sectorBytes, sector) || !HasSignature(sector)) break;
    const Entry logical = ReadEntry(sector, 0);
    const Entry next = ReadEntry(sector, 1);
    if (logical.type != 0 && logical.sectors != 0) {
      Partition named = Named(logical, number++);
      named.extended = false;
      named.logical = true;
      const std::uint64_t first = record + logical.first;
      if (!AddPartition(table, named, first, logical.sectors, diskBytes)) return false;
      Partition& added = table.partitions.back();
      if (added.misplaced == Misplaced::No && first + logical.sectors > end)
        added.misplaced = Misplaced::OutsideExtended;
    }
    if (!IsExtended(next.type)) return true;
    // Each record lies further on than the last: a chain that loops is damaged.
    const std::uint64_t following = extended.first + next.first;
    if (following <= record || following >= end) break;
    record = following;
  }
  table.chainBreaksAfter = number > 5 ? number - 1 : extendedNumber;
  return true;
}

// The sector size at which the partitions fit the disk and more of them
// start with a signed sector (a boot sector, or an extended boot record);
// 512 bytes when both do equally well.
std::int64_t MbrSectorBytes(std::span<const std::uint8_t> first, DiskReader& disk) {
  const auto size = disk.SizeBytes();
  struct Fit {
    bool fits = true;
    int signedStarts = 0;
  };
  const auto fit = [&](std::int64_t sectorBytes) {
    Fit result;
    for (std::size_t slot = 0; slot < mbr::kEntryCount; ++slot) {
      const Entry entry = ReadEntry(first, slot);
      if (entry.type == 0) continue;
      const auto start = static_cast<std::int64_t>(entry.first);
      const auto sectors = static_cast<std::int64_t>(entry.sectors);
      if (size && (start + sectors) * sectorBytes > *size) result.fits = false;
      std::array<std::uint8_t, layout::boot_record::kBytes> sector{};
      if (disk.Read(start * sectorBytes, sector) && HasSignature(sector)) ++result.signedStarts;
    }
    return result;
  };
  const Fit small = fit(kSectorBytes);
  const Fit large = fit(kLargeSectorBytes);
  return large.fits && (!small.fits || large.signedStarts > small.signedStarts) ? kLargeSectorBytes : kSectorBytes;
}

}  // namespace

PartitionTableReading ReadMbr(std::span<const std::uint8_t> first, DiskReader& disk,
                              std::optional<std::int64_t> sectorBytes) {
  const auto diskBytes = disk.SizeBytes();
  PartitionTable table;
  table.scheme = PartitionScheme::Mbr;
  table.sectorBytes = sectorBytes ? *sectorBytes : MbrSectorBytes(first, disk);
  // An entry of no sectors is no partition, as fdisk reads it.
  const auto used = [](const Entry& entry) { return entry.type != 0 && entry.sectors != 0; };
  for (std::size_t slot = 0; slot < mbr::kEntryCount; ++slot) {
    const Entry entry = ReadEntry(first, slot);
    if (used(entry))
      AddPartition(table, Named(entry, static_cast<int>(slot + 1)), entry.first, entry.sectors, diskBytes);
  }
  // The logical partitions after the four, as fdisk lists them: those of the
  // first extended partition; a second one is ignored, as fdisk and Windows ignore it.
  int number = 5;
  bool extendedRead = false;
  for (std::size_t slot = 0; slot < mbr::kEntryCount; ++slot) {
    const Entry entry = ReadEntry(first, slot);
    if (!used(entry) || !IsExtended(entry.type)) continue;
    const int extendedNumber = static_cast<int>(slot + 1);
    if (extendedRead) {
      for (Partition& partition : table.partitions) partition.ignored |= partition.number == extendedNumber;
      continue;
    }
    extendedRead = true;
    if (!ReadLogical(table, disk, entry, extendedNumber, number, diskBytes)) {
      return Refused<PartitionTableReading>("more than 128 partitions");
    }
  }
  MarkOverlaps(table);
  return Listed(std::move(table));
}

}  // namespace karvo
