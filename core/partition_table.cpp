#include "partition_table.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace karvo {
namespace {

constexpr std::size_t kMbrEntries = 446;           // offset of the four entries
constexpr std::size_t kMostGptEntryBytes = 32768;  // 256 entries of 128 bytes; disks use 128
constexpr std::string_view kOutside = "a partition table that points outside the disk";
constexpr std::string_view kNoGptHeader = "a protective MBR without the GPT header behind it";

bool HasSignature(std::span<const std::uint8_t> sector) {
  return sector.size() >= kSectorBytes && sector[510] == 0x55 && sector[511] == 0xAA;
}

bool IsExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

std::span<const std::uint8_t> MbrEntry(std::span<const std::uint8_t> sector, std::size_t i) {
  return sector.subspan(kMbrEntries + 16 * i, 16);
}

// An MBR type's number and, for a common one, its name; whether Windows
// keeps FAT32 or NTFS volumes in it.
std::pair<FixedText<48>, bool> MbrType(std::uint8_t type) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  FixedText<48> name("0x");
  name.Append(kDigits.substr(type >> 4, 1));
  name.Append(kDigits.substr(type & 0xF, 1));
  std::string_view known;
  bool windows = false;
  switch (type) {
    case 0x01:
      known = " FAT12";
      break;
    case 0x04:
    case 0x06:
    case 0x0E:
      known = " FAT16";
      break;
    case 0x07:
      known = " NTFS or exFAT";
      windows = true;
      break;
    case 0x0B:
      known = " FAT32";
      windows = true;
      break;
    case 0x0C:
      known = " FAT32 (LBA)";
      windows = true;
      break;
    case 0x27:
      known = " Windows recovery";
      windows = true;
      break;
    case 0x05:
    case 0x0F:
    case 0x85:
      known = " extended";
      break;
    case 0x82:
      known = " Linux swap";
      break;
    case 0x83:
      known = " Linux";
      break;
    case 0xEF:
      known = " EFI system";
      windows = true;
      break;
    default:
      break;
  }
  name.Append(known);
  return {name, windows};
}

// A GPT type GUID as it is written (its first three fields little-endian),
// or the name of a common one; whether Windows keeps FAT32 or NTFS in it.
std::pair<FixedText<48>, bool> GptType(std::span<const std::uint8_t> guid) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  constexpr std::array<std::size_t, 16> kOrder = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  FixedText<48> text;
  for (std::size_t i = 0; i < kOrder.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.Append("-");
    text.Append(kDigits.substr(guid[kOrder[i]] >> 4, 1));
    text.Append(kDigits.substr(guid[kOrder[i]] & 0xF, 1));
  }
  struct Known {
    std::string_view id, name;
    bool windows;
  };
  constexpr std::array<Known, 6> kKnown = {{
      {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data", true},
      {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved", false},
      {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system", true},
      {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery", true},
      {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem", false},
      {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap", false},
  }};
  for (const Known& known : kKnown) {
    if (text.view() == known.id) return {FixedText<48>(known.name), known.windows};
  }
  return {text, false};
}

// Adds a partition of `sectors` sectors from `first`; false when the table
// is full or the partition leaves the disk.
bool Add(PartitionTable& table, const Partition& named, std::uint64_t first, std::uint64_t sectors,
         std::optional<std::int64_t> diskBytes) {
  // Keeps every byte count, and the sum of two, inside 64 bits.
  const std::uint64_t mostSectors = (std::uint64_t{1} << 61) / static_cast<std::uint64_t>(table.sectorBytes);
  if (table.count == table.partitions.size() || first > mostSectors || sectors > mostSectors) return false;
  Partition partition = named;
  partition.firstByte = static_cast<std::int64_t>(first) * table.sectorBytes;
  partition.bytes = static_cast<std::int64_t>(sectors) * table.sectorBytes;
  if (diskBytes && partition.firstByte + partition.bytes > *diskBytes) return false;
  table.partitions[table.count++] = partition;
  return true;
}

// One GPT, primary or backup: its header at `lba` and the entries it names.
struct GptReading {
  PartitionTableReading reading;
  bool damaged = false;         // the header or its entries fail their checks
  std::uint64_t alternate = 0;  // where the other copy's header is, from a header that is whole
};

GptReading ReadGptAt(DiskReader& disk, std::uint64_t lba, std::int64_t sectorBytes,
                     std::optional<std::int64_t> diskBytes) {
  const auto damaged = [](std::string_view why) { return GptReading{Refused<PartitionTableReading>(why), true}; };
  std::array<std::uint8_t, kLargeSectorBytes> buffer{};
  const auto header = std::span(buffer).first(static_cast<std::size_t>(sectorBytes));
  constexpr std::string_view kSignature = "EFI PART";
  if (lba > (std::uint64_t{1} << 48) || !disk.Read(static_cast<std::int64_t>(lba) * sectorBytes, header) ||
      !std::equal(kSignature.begin(), kSignature.end(), header.begin())) {
    return damaged(kNoGptHeader);
  }
  const std::uint64_t headerSize = LittleEndian(header, 12, 4);
  if (headerSize < 92 || headerSize > header.size()) return damaged("a GPT header of an impossible size");
  std::array<std::uint8_t, kLargeSectorBytes> zeroed = buffer;
  std::fill_n(zeroed.begin() + 16, 4, 0);
  if (Crc32(std::span(zeroed).first(headerSize)) != LittleEndian(header, 16, 4)) {
    return damaged("a damaged GPT header: its CRC does not match");
  }
  if (LittleEndian(header, 24, 8) != lba) return damaged("a GPT header that is not where it says it is");
  GptReading gpt;
  gpt.alternate = LittleEndian(header, 32, 8);
  const std::uint64_t entriesLba = LittleEndian(header, 72, 8);
  const std::uint64_t count = LittleEndian(header, 80, 4);
  const std::uint64_t entrySize = LittleEndian(header, 84, 4);
  if (entrySize < 128 || entrySize % 8 != 0 || count * entrySize > kMostGptEntryBytes || entriesLba > (1ULL << 40)) {
    gpt.reading = Refused<PartitionTableReading>("a GPT header with impossible partition entries");
    gpt.damaged = true;
    return gpt;
  }
  std::array<std::uint8_t, kMostGptEntryBytes> entries;  // NOLINT(cppcoreguidelines-pro-type-member-init): read next
  const auto used = std::span(entries).first(count * entrySize);
  if (!disk.Read(static_cast<std::int64_t>(entriesLba) * sectorBytes, used)) {
    gpt.reading = Refused<PartitionTableReading>(kOutside);
    return gpt;
  }
  if (Crc32(used) != LittleEndian(header, 88, 4)) {
    gpt.reading = Refused<PartitionTableReading>("damaged GPT entries: their CRC does not match");
    gpt.damaged = true;
    return gpt;
  }

  PartitionTable table;
  table.scheme = "GPT";
  table.sectorBytes = sectorBytes;
  for (std::uint64_t i = 0; i < count; ++i) {
    const auto entry = std::span<const std::uint8_t>(used).subspan(i * entrySize, entrySize);
    if (std::all_of(entry.begin(), entry.begin() + 16, [](std::uint8_t b) { return b == 0; })) continue;
    const std::uint64_t first = LittleEndian(entry, 32, 8);
    const std::uint64_t last = LittleEndian(entry, 40, 8);
    Partition named;
    named.number = static_cast<int>(i + 1);
    std::tie(named.type, named.windowsType) = GptType(entry.first(16));
    if (last < first || !Add(table, named, first, last - first + 1, diskBytes)) {
      gpt.reading = Refused<PartitionTableReading>(table.count == table.partitions.size() ? "more than 128 partitions"
                                                                                          : kOutside);
      return gpt;
    }
  }
  gpt.reading.table = table;
  return gpt;
}

// As the UEFI specification asks: a damaged primary GPT gives way to the
// backup, at the primary's alternate LBA, else at the disk's last.
PartitionTableReading ReadGpt(DiskReader& disk, std::int64_t sectorBytes, std::optional<std::int64_t> diskBytes) {
  const GptReading primary = ReadGptAt(disk, 1, sectorBytes, diskBytes);
  if (!primary.damaged) return primary.reading;
  std::array<std::uint64_t, 2> places = {primary.alternate, 0};
  if (diskBytes && *diskBytes / sectorBytes > 2) places[1] = static_cast<std::uint64_t>(*diskBytes / sectorBytes - 1);
  for (const std::uint64_t lba : places) {
    if (lba <= 1) continue;
    GptReading backup = ReadGptAt(disk, lba, sectorBytes, diskBytes);
    if (backup.reading.table) {
      backup.reading.primaryProblem = primary.reading.problem;
      return backup.reading;
    }
  }
  return primary.reading;
}

// The logical partitions: a chain of extended boot records, each naming one
// partition and the next record, inside the extended partition.
bool ReadLogical(PartitionTable& table, DiskReader& disk, std::uint64_t extendedFirst, std::uint64_t extendedSectors,
                 int& number, std::optional<std::int64_t> diskBytes) {
  std::uint64_t record = extendedFirst;
  for (std::size_t links = 0; links < PartitionTable::kMostPartitions; ++links) {
    std::array<std::uint8_t, kSectorBytes> sector{};
    if (!disk.Read(static_cast<std::int64_t>(record) * table.sectorBytes, sector) || !HasSignature(sector)) {
      return false;
    }
    const auto logical = MbrEntry(sector, 0);
    const auto next = MbrEntry(sector, 1);
    if (logical[4] != 0) {
      const std::uint64_t first = record + LittleEndian(logical, 8, 4);
      const std::uint64_t sectors = LittleEndian(logical, 12, 4);
      if (first + sectors > extendedFirst + extendedSectors) return false;
      Partition named;
      named.number = number++;
      named.active = logical[0] == 0x80;
      std::tie(named.type, named.windowsType) = MbrType(logical[4]);
      if (!Add(table, named, first, sectors, diskBytes)) return false;
    }
    if (!IsExtended(next[4])) return true;
    // Each record lies further on than the last: a chain that loops is damaged.
    const std::uint64_t following = extendedFirst + LittleEndian(next, 8, 4);
    if (following <= record || following >= extendedFirst + extendedSectors) return false;
    record = following;
  }
  return false;
}

// Notes, for each partition, the first earlier one whose sectors it shares; a
// logical partition lies inside its extended one by design.
void MarkOverlaps(PartitionTable& table) {
  const bool mbr = table.scheme == "MBR";
  for (std::size_t i = 0; i < table.count; ++i) {
    Partition& later = table.partitions[i];
    for (std::size_t j = 0; j < i; ++j) {
      const Partition& earlier = table.partitions[j];
      const bool nested = mbr && ((earlier.extended && later.number >= 5) || (later.extended && earlier.number >= 5));
      if (!nested && later.firstByte < earlier.firstByte + earlier.bytes &&
          earlier.firstByte < later.firstByte + later.bytes) {
        later.overlaps = earlier.number;
        break;
      }
    }
  }
}

bool IsGptSignature(DiskReader& disk, std::int64_t offset) {
  std::array<std::uint8_t, 8> signature{};
  constexpr std::string_view kSignature = "EFI PART";
  return offset > 0 && disk.Read(offset, signature) &&
         std::equal(kSignature.begin(), kSignature.end(), signature.begin());
}

// A GPT's sector size: where its header is, one sector in or one sector
// before the end.
std::int64_t GptSectorBytes(DiskReader& disk) {
  const auto size = disk.SizeBytes();
  for (const std::int64_t sector : {kSectorBytes, kLargeSectorBytes}) {
    if (IsGptSignature(disk, sector)) return sector;
  }
  for (const std::int64_t sector : {kSectorBytes, kLargeSectorBytes}) {
    if (size && *size % sector == 0 && IsGptSignature(disk, *size - sector)) return sector;
  }
  return kSectorBytes;
}

// An MBR's sector size: the one at which its partitions fit the disk and more
// of them start with a signed sector (a boot sector, or an extended boot
// record); 512 bytes when both do equally well.
std::int64_t MbrSectorBytes(std::span<const std::uint8_t> first, DiskReader& disk) {
  const auto size = disk.SizeBytes();
  struct Fit {
    bool fits = true;
    int signedStarts = 0;
  };
  const auto fit = [&](std::int64_t sectorBytes) {
    Fit result;
    for (std::size_t i = 0; i < 4; ++i) {
      const auto entry = MbrEntry(first, i);
      if (entry[4] == 0) continue;
      const auto start = static_cast<std::int64_t>(LittleEndian(entry, 8, 4));
      const auto sectors = static_cast<std::int64_t>(LittleEndian(entry, 12, 4));
      if (size && (start + sectors) * sectorBytes > *size) result.fits = false;
      std::array<std::uint8_t, kSectorBytes> sector{};
      if (disk.Read(start * sectorBytes, sector) && HasSignature(sector)) ++result.signedStarts;
    }
    return result;
  };
  const Fit small = fit(kSectorBytes);
  const Fit large = fit(kLargeSectorBytes);
  return large.fits && (!small.fits || large.signedStarts > small.signedStarts) ? kLargeSectorBytes : kSectorBytes;
}

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

bool HoldsPartitionTable(std::span<const std::uint8_t> first) {
  if (!HasSignature(first)) return false;
  // Four entries, each empty or with a boot flag of 0 or 0x80; one at least used.
  bool any = false;
  for (std::size_t i = 0; i < 4; ++i) {
    const auto entry = MbrEntry(first, i);
    if (entry[0] != 0 && entry[0] != 0x80) return false;
    if (entry[4] == 0) continue;
    if (LittleEndian(entry, 8, 4) == 0 || LittleEndian(entry, 12, 4) == 0) return false;
    any = true;
  }
  return any;
}

PartitionTableReading ReadPartitionTable(std::span<const std::uint8_t> first, DiskReader& disk,
                                         std::optional<std::int64_t> sectorBytes) {
  if (!HoldsPartitionTable(first)) return {};
  const auto diskBytes = disk.SizeBytes();
  for (std::size_t i = 0; i < 4; ++i) {
    if (MbrEntry(first, i)[4] == 0xEE) return ReadGpt(disk, sectorBytes.value_or(GptSectorBytes(disk)), diskBytes);
  }

  PartitionTable table;
  table.scheme = "MBR";
  table.sectorBytes = sectorBytes.value_or(MbrSectorBytes(first, disk));
  for (std::size_t i = 0; i < 4; ++i) {
    const auto entry = MbrEntry(first, i);
    if (entry[4] == 0) continue;
    Partition named;
    named.number = static_cast<int>(i + 1);
    named.active = entry[0] == 0x80;
    named.extended = IsExtended(entry[4]);
    std::tie(named.type, named.windowsType) = MbrType(entry[4]);
    if (!Add(table, named, LittleEndian(entry, 8, 4), LittleEndian(entry, 12, 4), diskBytes)) {
      return Refused<PartitionTableReading>(kOutside);
    }
  }
  // The logical partitions after the four, as fdisk lists them.
  int number = 5;
  for (std::size_t i = 0; i < 4; ++i) {
    const auto entry = MbrEntry(first, i);
    if (IsExtended(entry[4]) &&
        !ReadLogical(table, disk, LittleEndian(entry, 8, 4), LittleEndian(entry, 12, 4), number, diskBytes)) {
      return Refused<PartitionTableReading>("a damaged extended partition: its chain of logical partitions is broken");
    }
  }
  MarkOverlaps(table);
  return {table, {}, {}};
}

}  // namespace karvo
