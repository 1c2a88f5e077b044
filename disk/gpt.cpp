#include "disk/gpt.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "disk/crc32.h"
#include "disk/on_disk.h"
#include "disk/partition_kind.h"

namespace karvo {
namespace {

namespace gpt = layout::gpt;

constexpr std::size_t kMostEntryBytes = 32768;  // 256 entries of 128 bytes; disks use 128
constexpr std::string_view kNoHeader = "a protective MBR without the GPT header behind it";
constexpr std::string_view kNoBackup = "no GPT header where the primary says the backup is";

// A type GUID as it is written (its first three fields little-endian), or
// the name of a known one; whether Windows keeps FAT32, NTFS or exFAT in it.
void NameType(Partition& named, std::span<const std::uint8_t> guid) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  constexpr std::array<std::size_t, 16> kOrder = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  FixedText<48> text;
  for (std::size_t i = 0; i < kOrder.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.Append("-");
    text.Append(kDigits.substr(guid[kOrder[i]] >> 4, 1));
    text.Append(kDigits.substr(guid[kOrder[i]] & 0xF, 1));
  }
  named.type = text;
  named.guid = FixedText<40>(text.view());
  named.kind = FindGptKind(text.view());
  if (named.kind != nullptr) {
    named.type = FixedText<48>(named.kind->name);
    named.windowsType = named.kind->windows;
  }
}

// An entry's name: UTF-16LE up to its first zero, as UTF-8; a unit that is
// no character (half a surrogate pair) as U+FFFD, as a decoder replaces it.
std::string EntryName(std::span<const std::uint8_t> field) {
  std::string name;
  const auto append = [&name](char32_t c) {
    const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
    if (c < 0x80) {
      name += byte(c);
    } else if (c < 0x800) {
      name += byte(0xC0 | c >> 6);
      name += byte(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      name += byte(0xE0 | c >> 12);
      name += byte(0x80 | (c >> 6 & 0x3F));
      name += byte(0x80 | (c & 0x3F));
    } else {
      name += byte(0xF0 | c >> 18);
      name += byte(0x80 | (c >> 12 & 0x3F));
      name += byte(0x80 | (c >> 6 & 0x3F));
      name += byte(0x80 | (c & 0x3F));
    }
  };
  const auto unit = [&field](std::size_t i) { return static_cast<char32_t>(field[2 * i] | field[2 * i + 1] << 8); };
  const std::size_t units = field.size() / 2;
  for (std::size_t i = 0; i < units && unit(i) != 0; ++i) {
    const char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000) {
      append(0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00));
    } else {
      append(c >= 0xD800 && c < 0xE000 ? 0xFFFD : c);
    }
  }
  return name;
}

// One GPT, primary or backup: its header at `lba` and the entries it names.
struct GptReading {
  PartitionTableReading reading;
  bool damaged = false;         // the header or its entries fail their checks
  std::uint64_t alternate = 0;  // where the other copy's header is, from a header that is whole
};

GptReading Damaged(std::string_view why, std::uint64_t alternate = 0) {
  return {Refused<PartitionTableReading>(why), true, alternate};
}

// The usable sectors as libfdisk's gpt.c judges them: in order, on the
// disk, and clear of both headers and of this one's entries.
struct HeaderPlaces {
  std::uint64_t lba, alternate, entriesLba, entrySectors;
};
bool UsableSectorsArePossible(std::uint64_t firstUsable, std::uint64_t lastUsable, const HeaderPlaces& places,
                              std::optional<std::uint64_t> lastLba) {
  const auto inside = [&](std::uint64_t first, std::uint64_t last) {
    return first <= lastUsable && last >= firstUsable;
  };
  return firstUsable <= lastUsable && (!lastLba || lastUsable <= *lastLba) && !inside(places.lba, places.lba) &&
         !inside(places.alternate, places.alternate) &&
         !inside(places.entriesLba, places.entriesLba + places.entrySectors - 1);
}

// Marks an entry that no partitioner writes: backwards, or outside the usable sectors.
void MarkMisplaced(Partition& named, std::uint64_t first, std::uint64_t last, const PartitionTable& table) {
  if (last < first) {
    named.misplaced = Misplaced::EndsBeforeStart;
  } else if (named.misplaced == Misplaced::No && (first < table.firstUsable || last > table.lastUsable)) {
    named.misplaced = Misplaced::OutsideUsable;
  }
}

GptReading ReadGptAt(DiskReader& disk, std::uint64_t lba, std::int64_t sectorBytes,
                     std::optional<std::int64_t> diskBytes, std::string_view missing) {
  std::array<std::uint8_t, kLargeSectorBytes> buffer{};
  const auto header = std::span(buffer).first(static_cast<std::size_t>(sectorBytes));
  if (lba > kFarthestHeaderSector || !disk.Read(static_cast<std::int64_t>(lba) * sectorBytes, header) ||
      !layout::Holds(header, gpt::kSignature, gpt::kSignatureText)) {
    return Damaged(missing);
  }
  const std::uint64_t headerSize = layout::Get(header, gpt::kHeaderSize);
  if (headerSize < gpt::kHeaderBytes || headerSize > header.size())
    return Damaged("a GPT header of an impossible size");
  std::array<std::uint8_t, kLargeSectorBytes> zeroed = buffer;
  layout::Set(zeroed, gpt::kHeaderCrc, 0);
  if (Crc32(std::span(zeroed).first(headerSize)) != layout::Get(header, gpt::kHeaderCrc)) {
    return Damaged("a damaged GPT header: its CRC does not match");
  }
  if (layout::Get(header, gpt::kMyLba) != lba) return Damaged("a GPT header that is not where it says it is");
  const std::uint64_t alternate = layout::Get(header, gpt::kAlternateLba);
  const std::uint64_t entriesLba = layout::Get(header, gpt::kEntriesLba);
  const std::uint64_t count = layout::Get(header, gpt::kEntryCount);
  const std::uint64_t entrySize = layout::Get(header, gpt::kEntrySize);
  if (count == 0 || entrySize < gpt::kEntryBytes || entrySize % 8 != 0 || count * entrySize > kMostEntryBytes ||
      entriesLba > kFarthestEntriesSector) {
    return Damaged("a GPT header with impossible partition entries", alternate);
  }
  PartitionTable table;
  table.scheme = PartitionScheme::Gpt;
  table.sectorBytes = sectorBytes;
  table.firstUsable = layout::Get(header, gpt::kFirstUsableLba);
  table.lastUsable = layout::Get(header, gpt::kLastUsableLba);
  const std::uint64_t entrySectors = (count * entrySize + header.size() - 1) / header.size();
  std::optional<std::uint64_t> lastLba;
  if (diskBytes) lastLba = static_cast<std::uint64_t>(*diskBytes / sectorBytes) - 1;
  if (!UsableSectorsArePossible(table.firstUsable, table.lastUsable, {lba, alternate, entriesLba, entrySectors},
                                lastLba)) {
    return Damaged("a GPT header whose usable sectors are impossible", alternate);
  }
  std::array<std::uint8_t, kMostEntryBytes> entries;  // NOLINT(cppcoreguidelines-pro-type-member-init): read next
  const auto used = std::span(entries).first(count * entrySize);
  if (!disk.Read(static_cast<std::int64_t>(entriesLba) * sectorBytes, used)) {
    return Damaged("a GPT header whose partition entries lie past the disk's end", alternate);
  }
  if (Crc32(used) != layout::Get(header, gpt::kEntriesCrc)) {
    return Damaged("damaged GPT entries: their CRC does not match", alternate);
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    const auto entry = std::span<const std::uint8_t>(used).subspan(i * entrySize, entrySize);
    const auto type = layout::Bytes(entry, gpt::kTypeGuid);
    if (std::all_of(type.begin(), type.end(), [](std::uint8_t b) { return b == 0; })) continue;
    const std::uint64_t first = layout::Get(entry, gpt::kFirstLba);
    const std::uint64_t last = layout::Get(entry, gpt::kLastLba);
    Partition named;
    named.number = static_cast<int>(i + 1);
    NameType(named, type);
    named.name = EntryName(layout::Bytes(entry, gpt::kName));
    named.attributes = layout::Get(entry, gpt::kAttributes);
    if (!AddPartition(table, named, first, last < first ? 0 : last - first + 1, diskBytes)) {
      return {Refused<PartitionTableReading>("more than 128 partitions"), false, alternate};
    }
    MarkMisplaced(table.partitions.back(), first, last, table);
  }
  MarkOverlaps(table);
  return {Listed(std::move(table)), false, alternate};
}

bool IsSignature(DiskReader& disk, std::int64_t offset) {
  std::array<std::uint8_t, gpt::kSignature.size> signature{};
  return offset > 0 && disk.Read(offset, signature) && layout::Holds(signature, gpt::kSignature, gpt::kSignatureText);
}

// The sector size: where the header is, one sector in or one sector before the end.
std::int64_t GptSectorBytes(DiskReader& disk) {
  const auto size = disk.SizeBytes();
  for (const std::int64_t sector : {kSectorBytes, kLargeSectorBytes}) {
    if (IsSignature(disk, sector)) return sector;
  }
  for (const std::int64_t sector : {kSectorBytes, kLargeSectorBytes}) {
    if (size && *size % sector == 0 && IsSignature(disk, *size - sector)) return sector;
  }
  return kSectorBytes;
}

// Whether a protective MBR names partitions of its own beside the GPT's
// entry: a hybrid MBR, which only BIOS systems read.
bool IsHybridMbr(std::span<const std::uint8_t> first) {
  for (std::size_t slot = 0; slot < layout::mbr::kEntryCount; ++slot) {
    const auto type = layout::Get(layout::Bytes(first, layout::mbr::Entry(slot)), layout::mbr::kType);
    if (type != 0 && type != layout::mbr::kProtective) return true;
  }
  return false;
}

}  // namespace

bool IsProtectiveMbr(std::span<const std::uint8_t> first) {
  for (std::size_t slot = 0; slot < layout::mbr::kEntryCount; ++slot) {
    const auto entry = layout::Bytes(first, layout::mbr::Entry(slot));
    if (layout::Get(entry, layout::mbr::kType) == layout::mbr::kProtective) return true;
  }
  return false;
}

// As the UEFI specification asks, and fdisk does: a damaged primary GPT gives
// way to the backup, at the primary's alternate LBA, else at the disk's
// last; a damaged backup behind a whole primary is named.
PartitionTableReading ReadGpt(std::span<const std::uint8_t> first, DiskReader& disk,
                              std::optional<std::int64_t> sectorBytes) {
  const std::int64_t sector = sectorBytes ? *sectorBytes : GptSectorBytes(disk);
  const auto diskBytes = disk.SizeBytes();
  PartitionTableReading reading = [&] {
    const GptReading primary = ReadGptAt(disk, 1, sector, diskBytes, kNoHeader);
    if (!primary.damaged) {
      PartitionTableReading whole = primary.reading;
      if (whole.table) {
        const GptReading backup = primary.alternate > 1
                                      ? ReadGptAt(disk, primary.alternate, sector, diskBytes, kNoBackup)
                                      : Damaged(kNoBackup);
        if (backup.damaged) whole.damagedCopy = DamagedCopy{DamagedCopy::Which::Backup, backup.reading.problem};
      }
      return whole;
    }
    std::array<std::uint64_t, 2> places = {primary.alternate, 0};
    if (diskBytes && *diskBytes / sector > 2) places[1] = static_cast<std::uint64_t>(*diskBytes / sector - 1);
    for (const std::uint64_t lba : places) {
      if (lba <= 1) continue;
      GptReading backup = ReadGptAt(disk, lba, sector, diskBytes, kNoHeader);
      if (backup.reading.table) {
        backup.reading.damagedCopy = DamagedCopy{DamagedCopy::Which::Primary, primary.reading.problem};
        return backup.reading;
      }
    }
    return primary.reading;
  }();
  if (reading.table) reading.table->hybridMbr = IsHybridMbr(first);
  return reading;
}

}  // namespace karvo
