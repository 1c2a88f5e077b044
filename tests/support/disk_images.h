// Boot sectors and whole disks built field by field in memory, for the
// readers' tests: every field a test does not name is as the formatters and
// partitioners write it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "core/boot_sector.h"
#include "core/partition_table.h"

namespace karvo::testing {

inline void Put(std::span<std::uint8_t> bytes, std::size_t at, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

using Sector = std::array<std::uint8_t, kBootSectorBytes>;

inline Sector Signed() {
  Sector sector{};
  sector[510] = 0x55;
  sector[511] = 0xAA;
  return sector;
}

inline Sector Fat32Sector(std::uint32_t sectors = 2097152, std::uint32_t fatSectors = 2044, int sectorsPerCluster = 8,
                          int bytesPerSector = 512) {
  Sector sector = Signed();
  Put(sector, 11, bytesPerSector, 2);
  sector[13] = static_cast<std::uint8_t>(sectorsPerCluster);
  Put(sector, 14, 32, 2);
  sector[16] = 2;
  Put(sector, 32, sectors, 4);
  Put(sector, 36, fatSectors, 4);
  std::memcpy(&sector[82], "FAT32   ", 8);
  return sector;
}

inline Sector NtfsSector(std::uint64_t sectors = 2099199, std::uint8_t clusterField = 8, int bytesPerSector = 512) {
  Sector sector = Signed();
  std::memcpy(&sector[3], "NTFS    ", 8);
  Put(sector, 11, bytesPerSector, 2);
  sector[13] = clusterField;
  Put(sector, 0x28, sectors, 8);
  return sector;
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

inline constexpr std::string_view kBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

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
  DiskImage& Volume(std::int64_t first, const Sector& bootSector) {
    std::copy(bootSector.begin(), bootSector.end(), At(first, bootSector.size()).begin());
    return *this;
  }
  // A protective MBR and both GPTs, primary and backup, with entries of
  // basic data (or the given type) over [first, last] each.
  struct GptPartition {
    std::uint64_t first, last;
    std::string_view type = kBasicData;
  };
  DiskImage& Gpt(std::initializer_list<GptPartition> partitions) {
    const auto last = static_cast<std::uint64_t>(Sectors() - 1);
    Mbr(0, 0xEE, 1, static_cast<std::uint32_t>(std::min<std::uint64_t>(last, 0xFFFFFFFF)));
    std::array<std::uint8_t, 128 * 128> entries{};
    std::size_t i = 0;
    for (const GptPartition& partition : partitions) {
      const auto entry = std::span(entries).subspan(128 * i++, 128);
      const auto guid = GuidBytes(partition.type);
      std::copy(guid.begin(), guid.end(), entry.begin());
      entry[16] = static_cast<std::uint8_t>(i);  // a partition GUID of its own
      Put(entry, 32, partition.first, 8);
      Put(entry, 40, partition.last, 8);
    }
    const std::uint64_t entrySectors = entries.size() / static_cast<std::size_t>(m_sectorBytes) +
                                       (entries.size() % static_cast<std::size_t>(m_sectorBytes) != 0);
    GptHeader(1, last, 2, entries);
    GptHeader(last, 1, last - entrySectors, entries);
    return *this;
  }

 private:
  DiskImage& Entry(std::int64_t sector, int slot, std::uint8_t type, std::uint32_t first, std::uint32_t sectors,
                   bool active) {
    const auto record = At(sector, kSectorBytes);
    const auto entry = record.subspan(446 + 16 * static_cast<std::size_t>(slot), 16);
    entry[0] = active ? 0x80 : 0;
    entry[4] = type;
    Put(entry, 8, first, 4);
    Put(entry, 12, sectors, 4);
    record[510] = 0x55;
    record[511] = 0xAA;
    return *this;
  }
  void GptHeader(std::uint64_t at, std::uint64_t alternate, std::uint64_t entriesAt,
                 std::span<const std::uint8_t> entries) {
    std::copy(entries.begin(), entries.end(), At(static_cast<std::int64_t>(entriesAt), entries.size()).begin());
    const auto header = At(static_cast<std::int64_t>(at), 92);
    std::memcpy(header.data(), "EFI PART", 8);
    Put(header, 8, 0x00010000, 4);
    Put(header, 12, 92, 4);
    Put(header, 24, at, 8);
    Put(header, 32, alternate, 8);
    Put(header, 72, entriesAt, 8);
    Put(header, 80, 128, 4);
    Put(header, 84, 128, 4);
    Put(header, 88, Crc32(entries), 4);
    Put(header, 16, Crc32(header), 4);
  }

  std::int64_t m_sectorBytes;
  std::vector<std::uint8_t> m_bytes;
};

}  // namespace karvo::testing
