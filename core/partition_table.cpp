#include "partition_table.h"

#include <algorithm>

namespace karvo {
namespace {

constexpr std::int64_t kSector = 512;
constexpr std::size_t kMbrEntries = 446;           // offset of the four entries
constexpr std::size_t kMostGptEntryBytes = 32768;  // 256 entries of 128 bytes; disks use 128

std::uint64_t Field(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = size; i-- > 0;) value = (value << 8) | bytes[at + i];
  return value;
}

bool HasSignature(std::span<const std::uint8_t> sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

bool IsExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

PartitionTableReading Problem(std::string_view why) { return {std::nullopt, why}; }

FixedText<48> MbrTypeName(std::uint8_t type) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  FixedText<48> name("0x");
  name.Append(kDigits.substr(type >> 4, 1));
  name.Append(kDigits.substr(type & 0xF, 1));
  switch (type) {
    case 0x01:
      name.Append(" FAT12");
      break;
    case 0x04:
    case 0x06:
    case 0x0E:
      name.Append(" FAT16");
      break;
    case 0x07:
      name.Append(" NTFS or exFAT");
      break;
    case 0x0B:
      name.Append(" FAT32");
      break;
    case 0x0C:
      name.Append(" FAT32 (LBA)");
      break;
    case 0x05:
    case 0x0F:
    case 0x85:
      name.Append(" extended");
      break;
    case 0x82:
      name.Append(" Linux swap");
      break;
    case 0x83:
      name.Append(" Linux");
      break;
    case 0xEF:
      name.Append(" EFI system");
      break;
    default:
      break;
  }
  return name;
}

// A GPT type GUID as it is written (its first three fields little-endian),
// or the name of a common one.
FixedText<48> GptTypeName(std::span<const std::uint8_t> guid) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  constexpr std::array<std::size_t, 16> kOrder = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  FixedText<48> text;
  for (std::size_t i = 0; i < kOrder.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.Append("-");
    text.Append(kDigits.substr(guid[kOrder[i]] >> 4, 1));
    text.Append(kDigits.substr(guid[kOrder[i]] & 0xF, 1));
  }
  constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kKnown = {{
      {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data"},
      {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
      {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system"},
      {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"},
      {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
  }};
  for (const auto& [id, name] : kKnown) {
    if (text.view() == id) return FixedText<48>(name);
  }
  return text;
}

// Adds a partition of `sectors` sectors from `first`; false when the table
// is full or the partition leaves the disk.
bool Add(PartitionTable& table, int number, std::uint64_t first, std::uint64_t sectors, FixedText<48> type,
         std::optional<std::int64_t> diskBytes) {
  constexpr std::uint64_t kMostSectors = std::uint64_t{1} << 54;  // keeps every byte count inside 64 bits
  if (table.count == table.partitions.size() || first > kMostSectors || sectors > kMostSectors) return false;
  const auto firstByte = static_cast<std::int64_t>(first) * kSector;
  const auto bytes = static_cast<std::int64_t>(sectors) * kSector;
  if (diskBytes && firstByte + bytes > *diskBytes) return false;
  table.partitions[table.count++] = {number, firstByte, bytes, type};
  return true;
}

constexpr std::string_view kOutside = "a partition table that points outside the disk";

PartitionTableReading ReadGpt(DiskReader& disk, std::optional<std::int64_t> diskBytes) {
  std::array<std::uint8_t, kSector> header{};
  if (!disk.Read(kSector, header)) return Problem("a protective MBR without the GPT header behind it");
  constexpr std::string_view kSignature = "EFI PART";
  if (!std::equal(kSignature.begin(), kSignature.end(), header.begin())) {
    return Problem("a protective MBR without the GPT header behind it");
  }
  const std::uint64_t headerSize = Field(header, 12, 4);
  if (headerSize < 92 || headerSize > kSector) return Problem("a GPT header of an impossible size");
  std::array<std::uint8_t, kSector> zeroed = header;
  std::fill_n(zeroed.begin() + 16, 4, 0);
  if (Crc32(std::span(zeroed).first(headerSize)) != Field(header, 16, 4)) {
    return Problem("a damaged GPT header: its CRC does not match");
  }
  const std::uint64_t entriesLba = Field(header, 72, 8);
  const std::uint64_t count = Field(header, 80, 4);
  const std::uint64_t entrySize = Field(header, 84, 4);
  if (entrySize < 128 || entrySize % 8 != 0 || count * entrySize > kMostGptEntryBytes || entriesLba > (1ULL << 40)) {
    return Problem("a GPT header with impossible partition entries");
  }
  std::array<std::uint8_t, kMostGptEntryBytes> entries;  // NOLINT(cppcoreguidelines-pro-type-member-init): read next
  const auto used = std::span(entries).first(count * entrySize);
  if (!disk.Read(static_cast<std::int64_t>(entriesLba) * kSector, used)) return Problem(kOutside);
  if (Crc32(used) != Field(header, 88, 4)) return Problem("damaged GPT entries: their CRC does not match");

  PartitionTable table;
  table.scheme = "GPT";
  for (std::uint64_t i = 0; i < count; ++i) {
    const auto entry = used.subspan(i * entrySize, entrySize);
    if (std::all_of(entry.begin(), entry.begin() + 16, [](std::uint8_t b) { return b == 0; })) continue;
    const std::uint64_t first = Field(entry, 32, 8);
    const std::uint64_t last = Field(entry, 40, 8);
    if (last < first ||
        !Add(table, static_cast<int>(i + 1), first, last - first + 1, GptTypeName(entry.first(16)), diskBytes)) {
      return Problem(table.count == table.partitions.size() ? "more than 128 partitions" : kOutside);
    }
  }
  return {table, {}};
}

// The logical partitions: a chain of extended boot records, each naming one
// partition and the next record, inside the extended partition.
bool ReadLogical(PartitionTable& table, DiskReader& disk, std::uint64_t extendedFirst, std::uint64_t extendedSectors,
                 std::optional<std::int64_t> diskBytes) {
  std::uint64_t record = extendedFirst;
  for (int number = 5; number < 5 + static_cast<int>(PartitionTable::kMostPartitions); ++number) {
    std::array<std::uint8_t, kSector> sector{};
    if (!disk.Read(static_cast<std::int64_t>(record) * kSector, sector) || !HasSignature(sector)) return false;
    const auto logical = std::span<const std::uint8_t>(sector).subspan(kMbrEntries, 16);
    const auto next = std::span<const std::uint8_t>(sector).subspan(kMbrEntries + 16, 16);
    if (logical[4] != 0) {
      const std::uint64_t first = record + Field(logical, 8, 4);
      const std::uint64_t sectors = Field(logical, 12, 4);
      if (first + sectors > extendedFirst + extendedSectors) return false;
      if (!Add(table, number, first, sectors, MbrTypeName(logical[4]), diskBytes)) return false;
    }
    if (!IsExtended(next[4])) return true;
    // Each record lies further on than the last: a chain that loops is damaged.
    const std::uint64_t following = extendedFirst + Field(next, 8, 4);
    if (following <= record || following >= extendedFirst + extendedSectors) return false;
    record = following;
  }
  return false;
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

PartitionTableReading ReadPartitionTable(std::span<const std::uint8_t> first, DiskReader& disk,
                                         std::optional<std::int64_t> diskBytes) {
  if (first.size() < kSector || !HasSignature(first)) return {};
  // An MBR: four entries, each empty or with a boot flag of 0 or 0x80.
  bool any = false;
  for (std::size_t i = 0; i < 4; ++i) {
    const auto entry = first.subspan(kMbrEntries + 16 * i, 16);
    if (entry[0] != 0 && entry[0] != 0x80) return {};
    if (entry[4] == 0) continue;
    if (Field(entry, 8, 4) == 0 || Field(entry, 12, 4) == 0) return {};
    any = true;
  }
  if (!any) return {};
  for (std::size_t i = 0; i < 4; ++i) {
    if (first[kMbrEntries + 16 * i + 4] == 0xEE) return ReadGpt(disk, diskBytes);
  }

  PartitionTable table;
  table.scheme = "MBR";
  for (std::size_t i = 0; i < 4; ++i) {
    const auto entry = first.subspan(kMbrEntries + 16 * i, 16);
    if (entry[4] == 0) continue;
    const std::uint64_t start = Field(entry, 8, 4);
    const std::uint64_t sectors = Field(entry, 12, 4);
    if (!Add(table, static_cast<int>(i + 1), start, sectors, MbrTypeName(entry[4]), diskBytes)) {
      return Problem(kOutside);
    }
    table.partitions[table.count - 1].extended = IsExtended(entry[4]);
    if (IsExtended(entry[4]) && !ReadLogical(table, disk, start, sectors, diskBytes)) {
      return Problem("a damaged extended partition: its chain of logical partitions is broken");
    }
  }
  return {table, {}};
}

}  // namespace karvo
