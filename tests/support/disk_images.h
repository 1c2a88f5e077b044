// Boot sectors and whole disks built field by field in memory, for the
// readers' tests: every field a test does not name is as the formatters and
// partitioners write it. The fields are the readers' own layouts; the GPT's
// checksums come from zlib, not from the code under test.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "disk/boot_sector.h"
#include "disk/on_disk.h"
#include "disk/partition_table.h"
#include "support/memory_disk.h"

namespace karvo::fixtures {

using layout::Set;
namespace fat = layout::fat;
namespace ntfs = layout::ntfs;
namespace mbr = layout::mbr;
namespace gpt = layout::gpt;

using Sector = std::array<std::uint8_t, kBootSectorBytes>;

inline Sector Signed() {
  Sector sector{};
  Set(sector, layout::boot_record::kSignature, layout::boot_record::kSignatureValue);
  return sector;
}

// CRC-32 by zlib, whose crc32() is the one GPT uses.
inline std::uint32_t ZlibCrc32(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(::crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}

inline Sector Fat32Sector(std::uint32_t sectors = 2097152, std::uint32_t fatSectors = 2044, int sectorsPerCluster = 8,
                          int bytesPerSector = 512) {
  Sector sector = Signed();
  Set(sector, layout::boot_record::kJump, 0x9058EB);  // EB 58 90, as mkfs.fat and Windows write it
  layout::SetText(sector, layout::boot_record::kOemName, "mkfs.fat");
  Set(sector, fat::kBytesPerSector, static_cast<std::uint64_t>(bytesPerSector));
  Set(sector, fat::kSectorsPerCluster, static_cast<std::uint64_t>(sectorsPerCluster));
  Set(sector, fat::kMedia, 0xF8);
  Set(sector, fat::kReservedSectors, 32);
  Set(sector, fat::kFatCount, 2);
  Set(sector, fat::kSectors32, sectors);
  Set(sector, fat::kFatSectors32, fatSectors);
  layout::SetText(sector, fat::kFat32TypeText, fat::kFat32Type);
  return sector;
}

inline Sector NtfsSector(std::uint64_t sectors = 2099199, std::uint8_t clusterField = 8, int bytesPerSector = 512) {
  Sector sector = Signed();
  layout::SetText(sector, layout::boot_record::kOemName, ntfs::kOemName);
  Set(sector, ntfs::kBytesPerSector, static_cast<std::uint64_t>(bytesPerSector));
  Set(sector, ntfs::kClusterField, clusterField);
  Set(sector, ntfs::kSectors, sectors);
  return sector;
}

// BitLocker's header over a FAT32 boot sector: its jump and its name.
inline Sector BitLockerSector(std::uint64_t jump = layout::bitlocker::kJump7,
                              std::string_view name = layout::bitlocker::kSignatureText) {
  Sector sector = Fat32Sector();
  Set(sector, layout::boot_record::kJump, jump);
  layout::SetText(sector, layout::boot_record::kOemName, name);
  return sector;
}

// An exFAT boot sector as mkfs.exfat writes it on 1 GiB: 32 KiB clusters.
inline Sector ExfatSector(std::uint64_t sectors = 2097152, std::uint32_t clusters = 32704) {
  namespace exfat = layout::exfat;
  Sector sector = Signed();
  Set(sector, layout::boot_record::kJump, 0x9076EB);  // EB 76 90
  layout::SetText(sector, layout::boot_record::kOemName, exfat::kOemName);
  Set(sector, exfat::kVolumeLength, sectors);
  Set(sector, exfat::kFatOffset, 2048);
  Set(sector, exfat::kFatLength, 256);
  Set(sector, exfat::kClusterHeapOffset, 4096);
  Set(sector, exfat::kClusterCount, clusters);
  Set(sector, exfat::kRootCluster, 4);
  Set(sector, exfat::kBytesPerSectorShift, 9);
  Set(sector, exfat::kSectorsPerClusterShift, 6);
  Set(sector, exfat::kFatCount, 1);
  Set(sector, exfat::kRevision, 0x0100);
  return sector;
}

// An exFAT volume's two boot regions, main and backup, each `bootSector`,
// eight signed extended boot sectors, two blank ones and the checksum, as
// mkfs.exfat writes them at the boot sector's sector size (512 bytes where
// that is impossible).
inline constexpr std::size_t kExfatRegionSectors = 12;

// The checksum of the eleven sectors before it, written over the twelfth:
// each byte added to the sum turned right by one, but for the volume flags
// and the percent in use (bytes 106, 107 and 112).
inline void SealExfatRegion(std::span<std::uint8_t> region, std::size_t sectorBytes) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < 11 * sectorBytes; ++at) {
    if (at == 106 || at == 107 || at == 112) continue;
    sum = ((sum >> 1) | (sum << 31)) + region[at];
  }
  for (std::size_t at = 11 * sectorBytes; at < 12 * sectorBytes; at += 4) Set(region, {at, 4}, sum);
}

inline std::vector<std::uint8_t> ExfatBootRegions(const Sector& bootSector) {
  const auto shift = layout::Get(bootSector, layout::exfat::kBytesPerSectorShift);
  const std::size_t sectorBytes = shift >= 9 && shift <= 12 ? std::size_t{1} << shift : 512;
  std::vector<std::uint8_t> regions(2 * kExfatRegionSectors * sectorBytes);
  for (std::size_t copy = 0; copy < 2; ++copy) {
    const auto region =
        std::span(regions).subspan(copy * kExfatRegionSectors * sectorBytes, kExfatRegionSectors * sectorBytes);
    std::copy(bootSector.begin(), bootSector.end(), region.begin());
    for (std::size_t sector = 1; sector <= 8; ++sector) Set(region, {(sector + 1) * sectorBytes - 4, 4}, 0xAA550000);
    SealExfatRegion(region, sectorBytes);
  }
  return regions;
}

// A GPT type GUID as it is written, "EBD0A0A2-B9E5-..." (the first three
// fields little-endian).
inline std::array<std::uint8_t, 16> GuidBytes(std::string_view text) {
  constexpr std::array<std::size_t, 16> kOrder = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::array<std::uint8_t, 16> guid{};
  std::size_t digit = 0;
  for (char c : text) {
    if (c == '-') continue;
    const int value = c <= '9' ? c - '0' : c - 'A' + 10;
    guid[kOrder[digit / 2]] |= static_cast<std::uint8_t>(digit % 2 == 0 ? value << 4 : value);
    ++digit;
  }
  return guid;
}

inline constexpr std::string_view kBasicData = gpt::kBasicDataType;

// A whole disk of `sectors` sectors of `sectorBytes`.
class DiskImage {
 public:
  DiskImage(std::int64_t sectors, std::int64_t sectorBytes = kSectorBytes)
      : m_sectorBytes(sectorBytes), m_bytes(static_cast<std::size_t>(sectors * sectorBytes)) {}

  std::span<const std::uint8_t> bytes() const { return m_bytes; }
  std::span<std::uint8_t> At(std::int64_t sector, std::size_t count) {
    return std::span(m_bytes).subspan(static_cast<std::size_t>(sector * m_sectorBytes), count);
  }
  std::int64_t Sectors() const { return static_cast<std::int64_t>(m_bytes.size()) / m_sectorBytes; }

  // One of the four entries of the MBR in sector 0.
  DiskImage& Mbr(int slot, std::uint8_t type, std::uint32_t first, std::uint32_t sectors, bool active = false) {
    return Entry(0, slot, type, first, sectors, active);
  }
  // An extended boot record at `record`: a logical partition `first` sectors
  // from it, and the next record `next` sectors from the extended start.
  DiskImage& Ebr(std::uint32_t record, std::uint8_t type, std::uint32_t first, std::uint32_t sectors,
                 std::uint32_t next = 0, std::uint32_t nextSectors = 0) {
    Entry(record, 0, type, first, sectors, false);
    if (next != 0) Entry(record, 1, 0x05, next, nextSectors, false);
    return *this;
  }
  // A boot sector at the start of sector `first`.
  DiskImage& Volume(std::int64_t first, std::span<const std::uint8_t> start) {
    std::copy(start.begin(), start.end(), At(first, start.size()).begin());
    return *this;
  }
  // A protective MBR and both GPTs, primary and backup, with entries of
  // basic data (or the given type) over [first, last] each.
  struct GptPartition {
    std::uint64_t first, last;
    std::string_view type = kBasicData;
    std::u16string_view name = {};
    std::uint64_t attributes = 0;
  };
  DiskImage& Gpt(std::initializer_list<GptPartition> partitions) {
    const auto last = static_cast<std::uint64_t>(Sectors() - 1);
    Mbr(0, mbr::kProtective, 1, static_cast<std::uint32_t>(std::min<std::uint64_t>(last, 0xFFFFFFFF)));
    std::array<std::uint8_t, gpt::kUsualEntryCount * gpt::kEntryBytes> entries{};
    std::size_t i = 0;
    for (const GptPartition& partition : partitions) {
      const auto entry = std::span(entries).subspan(gpt::kEntryBytes * i++, gpt::kEntryBytes);
      const auto guid = GuidBytes(partition.type);
      std::copy(guid.begin(), guid.end(), entry.begin() + gpt::kTypeGuid.offset);
      entry[gpt::kPartitionGuid.offset] = static_cast<std::uint8_t>(i);  // a partition GUID of its own
      Set(entry, gpt::kFirstLba, partition.first);
      Set(entry, gpt::kLastLba, partition.last);
      Set(entry, gpt::kAttributes, partition.attributes);
      for (std::size_t unit = 0; unit < partition.name.size(); ++unit) {
        Set(entry.subspan(gpt::kName.offset + 2 * unit), {0, 2}, partition.name[unit]);
      }
    }
    const std::uint64_t entrySectors = entries.size() / static_cast<std::size_t>(m_sectorBytes) +
                                       (entries.size() % static_cast<std::size_t>(m_sectorBytes) != 0);
    GptHeader(1, last, 2, entries, entrySectors);
    GptHeader(last, 1, last - entrySectors, entries, entrySectors);
    return *this;
  }

 private:
  DiskImage& Entry(std::int64_t sector, int slot, std::uint8_t type, std::uint32_t first, std::uint32_t sectors,
                   bool active) {
    const auto record = At(sector, kSectorBytes);
    const auto place = mbr::Entry(static_cast<std::size_t>(slot));
    const auto entry = record.subspan(place.offset, place.size);
    Set(entry, mbr::kBootFlag, active ? mbr::kActive : 0);
    Set(entry, mbr::kType, type);
    Set(entry, mbr::kFirstSector, first);
    Set(entry, mbr::kSectors, sectors);
    Set(record, layout::boot_record::kSignature, layout::boot_record::kSignatureValue);
    return *this;
  }
  // The usable sectors lie between the primary's entries and the backup's.
  void GptHeader(std::uint64_t at, std::uint64_t alternate, std::uint64_t entriesAt,
                 std::span<const std::uint8_t> entries, std::uint64_t entrySectors) {
    std::copy(entries.begin(), entries.end(), At(static_cast<std::int64_t>(entriesAt), entries.size()).begin());
    const auto header = At(static_cast<std::int64_t>(at), gpt::kHeaderBytes);
    layout::SetText(header, gpt::kSignature, gpt::kSignatureText);
    Set(header, gpt::kRevision, gpt::kRevision1);
    Set(header, gpt::kHeaderSize, gpt::kHeaderBytes);
    Set(header, gpt::kMyLba, at);
    Set(header, gpt::kAlternateLba, alternate);
    Set(header, gpt::kEntriesLba, entriesAt);
    Set(header, gpt::kFirstUsableLba, 2 + entrySectors);
    Set(header, gpt::kLastUsableLba, static_cast<std::uint64_t>(Sectors()) - 2 - entrySectors);
    Set(header, gpt::kEntryCount, gpt::kUsualEntryCount);
    Set(header, gpt::kEntrySize, gpt::kEntryBytes);
    Set(header, gpt::kEntriesCrc, ZlibCrc32(entries));
    SealGptHeader(at);
  }

 public:
  // The header's CRC, over the header as it stands: after a test changes a
  // field, the header is whole again but for that change.
  void SealGptHeader(std::uint64_t at) {
    const auto fields = At(static_cast<std::int64_t>(at), gpt::kHeaderBytes);
    const auto header = At(static_cast<std::int64_t>(at), layout::Get(fields, gpt::kHeaderSize));
    Set(header, gpt::kHeaderCrc, 0);
    Set(header, gpt::kHeaderCrc, ZlibCrc32(header));
  }

 private:
  std::int64_t m_sectorBytes;
  std::vector<std::uint8_t> m_bytes;
};

// The partition table of a disk built here, as a file of it reads.
inline PartitionTableReading ReadTable(const DiskImage& image, std::optional<std::int64_t> sectorBytes = std::nullopt) {
  MemoryDisk disk(image.bytes());
  return ReadPartitionTable(image.bytes(), disk, sectorBytes);
}

}  // namespace karvo::fixtures
