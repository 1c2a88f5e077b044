// The on-disk layouts karvo-size reads, each written down once: every field
// with its offset and size, little-endian as all of them are. The readers take
// their fields from here, and so do the tests that build disks in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace karvo::layout {

struct Field {
  std::size_t offset;
  std::size_t size;  // at most 8 for a number

  constexpr std::size_t End() const { return offset + size; }
};

// A number of at most 8 bytes.
constexpr std::uint64_t Get(std::span<const std::uint8_t> bytes, Field field) {
  std::uint64_t value = 0;
  for (std::size_t i = field.size; i-- > 0;) value = (value << 8) | bytes[field.offset + i];
  return value;
}

inline void Set(std::span<std::uint8_t> bytes, Field field, std::uint64_t value) {
  for (std::size_t i = 0; i < field.size; ++i) bytes[field.offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Whether a text field holds exactly `text` (as long as the field).
constexpr bool Holds(std::span<const std::uint8_t> bytes, Field field, std::string_view text) {
  if (bytes.size() < field.End() || text.size() != field.size) return false;
  for (std::size_t i = 0; i < field.size; ++i) {
    if (bytes[field.offset + i] != static_cast<std::uint8_t>(text[i])) return false;
  }
  return true;
}

inline void SetText(std::span<std::uint8_t> bytes, Field field, std::string_view text) {
  for (std::size_t i = 0; i < field.size; ++i) bytes[field.offset + i] = static_cast<std::uint8_t>(text[i]);
}

constexpr std::span<const std::uint8_t> Bytes(std::span<const std::uint8_t> bytes, Field field) {
  return bytes.subspan(field.offset, field.size);
}

// The first sector of a volume or a disk, whatever it holds: what the BIOS
// checked before it ran one.
namespace boot_record {
inline constexpr Field kJump{0, 3};     // the x86 jump over the fields to the boot code
inline constexpr Field kOemName{3, 8};  // a volume's formatter, or its file system's name
inline constexpr Field kSignature{510, 2};
inline constexpr std::uint64_t kSignatureValue = 0xAA55;
inline constexpr std::size_t kBytes = 512;
}  // namespace boot_record

// FAT's BIOS parameter block, as FAT12, FAT16 and FAT32 share it, and the
// fields FAT32 adds (Microsoft's FAT specification, and libblkid's vfat.c).
namespace fat {
inline constexpr Field kBytesPerSector{11, 2};
inline constexpr Field kSectorsPerCluster{13, 1};
inline constexpr Field kReservedSectors{14, 2};
inline constexpr Field kFatCount{16, 1};
inline constexpr Field kRootEntries{17, 2};   // 0 on FAT32
inline constexpr Field kSectors16{19, 2};     // 0 when the 32-bit count holds it
inline constexpr Field kMedia{21, 1};         // 0xF0, or 0xF8 to 0xFF
inline constexpr Field kFatSectors16{22, 2};  // 0 on FAT32
inline constexpr Field kSectors32{32, 4};
inline constexpr Field kFatSectors32{36, 4};  // FAT32 only, as all below
inline constexpr Field kFat32TypeText{82, 8};
inline constexpr std::string_view kFat32Type = "FAT32   ";
inline constexpr std::size_t kRootEntryBytes = 32;
}  // namespace fat

// The NTFS boot sector.
namespace ntfs {
inline constexpr std::string_view kOemName = "NTFS    ";
inline constexpr Field kBytesPerSector{11, 2};
// Up to 0x80 a count of sectors; beyond, 2 to the power of (256 - it).
inline constexpr Field kClusterField{13, 1};
inline constexpr Field kSectors{0x28, 8};
inline constexpr std::int64_t kLargestClusterBytes = std::int64_t{2} << 20;  // 2 MiB, Windows 10 1709 and later
}  // namespace ntfs

// The exFAT boot sector (Microsoft's exFAT specification, and Linux's fs/exfat).
namespace exfat {
inline constexpr std::string_view kOemName = "EXFAT   ";
inline constexpr std::uint64_t kJump = 0x9076EB;  // EB 76 90, the only jump exFAT allows
inline constexpr Field kMustBeZero{11, 53};       // where FAT's BIOS parameter block would be
inline constexpr Field kVolumeLength{72, 8};      // in sectors, as all below
inline constexpr Field kFatOffset{80, 4};
inline constexpr Field kFatLength{84, 4};
inline constexpr Field kClusterHeapOffset{88, 4};
inline constexpr Field kClusterCount{92, 4};
inline constexpr Field kRootCluster{96, 4};
inline constexpr Field kRevision{104, 2};     // minor, then major: Windows reads major revision 1
inline constexpr Field kVolumeFlags{106, 2};  // changes as the volume is used: left out of the checksum
inline constexpr Field kBytesPerSectorShift{108, 1};
inline constexpr Field kSectorsPerClusterShift{109, 1};
inline constexpr Field kFatCount{110, 1};
inline constexpr Field kPercentInUse{112, 1};  // left out of the checksum too
inline constexpr std::uint64_t kMajorRevision = 1;
// A boot region: the boot sector, eight extended boot sectors, the OEM
// parameters and a reserved sector, checksummed by the sector that follows
// them, which holds the checksum again and again. The backup region follows.
inline constexpr std::uint64_t kChecksummedSectors = 11;
inline constexpr std::uint64_t kBootRegionSectors = 12;
inline constexpr std::uint64_t kBootRegionsSectors = 2 * kBootRegionSectors;
inline constexpr std::uint64_t kMostClusters = 0xFFFFFFF5;
inline constexpr std::int64_t kLargestClusterShift = 25;  // 32 MiB
}  // namespace exfat

// The header BitLocker writes over the first sector of the volume it
// encrypts (libblkid's bitlocker.c): "-FVE-FS-" where a file system's name
// would be, after a Vista or a Windows 7 jump; BitLocker To Go keeps a FAT32
// boot sector, "MSWIN4.1", for its reader, with BitLocker's identifier or
// the place of its metadata block, which starts "-FVE-FS-" too.
namespace bitlocker {
inline constexpr std::uint64_t kVistaJump = 0x9052EB;  // EB 52 90
inline constexpr std::uint64_t kJump7 = 0x9058EB;      // EB 58 90: Windows 7 and later, and To Go
inline constexpr std::string_view kSignatureText = "-FVE-FS-";
inline constexpr std::string_view kToGoOemName = "MSWIN4.1";
inline constexpr Field kToGoIdentifier{424, 16};
// 4967D63B-2E29-4AD8-8399-F6A339E3D001, as a GUID is written (its first three fields little-endian).
inline constexpr std::string_view kToGoIdentifierBytes{
    "\x3B\xD6\x67\x49\x29\x2E\xD8\x4A\x83\x99\xF6\xA3\x39\xE3\xD0\x01", 16};
inline constexpr Field kToGoMetadataOffset{440, 8};
inline constexpr Field kMetadataSignature{0, 8};
}  // namespace bitlocker

// ReFS's volume boot record: no FAT-like header at all.
namespace refs {
inline constexpr Field kSignature{0, 11};
inline constexpr std::string_view kSignatureText{"\0\0\0ReFS\0\0\0\0", 11};
inline constexpr Field kIdentifier{16, 4};
inline constexpr std::string_view kIdentifierText = "FSRS";
}  // namespace refs

// The MBR's four entries, and the extended boot record of each logical
// partition, which uses the first two entries of the same layout: the
// partition, relative to the record, and the next record, relative to the
// extended partition's start.
namespace mbr {
inline constexpr std::size_t kEntryCount = 4;
inline constexpr std::size_t kEntryBytes = 16;
inline constexpr std::size_t kFirstEntry = 446;
constexpr Field Entry(std::size_t slot) { return {kFirstEntry + kEntryBytes * slot, kEntryBytes}; }
// Inside an entry.
inline constexpr Field kBootFlag{0, 1};
inline constexpr Field kType{4, 1};
inline constexpr Field kFirstSector{8, 4};
inline constexpr Field kSectors{12, 4};
inline constexpr std::uint64_t kActive = 0x80;
inline constexpr std::uint64_t kProtective = 0xEE;  // the whole disk, for a GPT
// The types Windows writes.
inline constexpr std::uint8_t kNtfsOrExfatType = 0x07;
inline constexpr std::uint8_t kFat32LbaType = 0x0C;
inline constexpr std::uint8_t kExtendedLbaType = 0x0F;
inline constexpr std::uint8_t kRecoveryType = 0x27;
}  // namespace mbr

// The GPT header, one sector in (and its backup in the disk's last), and its
// partition entries (the UEFI specification, and libfdisk's gpt.c).
namespace gpt {
inline constexpr std::string_view kSignatureText = "EFI PART";
inline constexpr Field kSignature{0, 8};
inline constexpr Field kRevision{8, 4};
inline constexpr Field kHeaderSize{12, 4};
inline constexpr Field kHeaderCrc{16, 4};  // over the header's size, with this field zero
inline constexpr Field kMyLba{24, 8};
inline constexpr Field kAlternateLba{32, 8};
inline constexpr Field kFirstUsableLba{40, 8};
inline constexpr Field kLastUsableLba{48, 8};
inline constexpr Field kDiskGuid{56, 16};
inline constexpr Field kEntriesLba{72, 8};
inline constexpr Field kEntryCount{80, 4};
inline constexpr Field kEntrySize{84, 4};
inline constexpr Field kEntriesCrc{88, 4};
inline constexpr std::size_t kHeaderBytes = 92;
inline constexpr std::uint64_t kRevision1 = 0x00010000;
// Inside an entry.
inline constexpr Field kTypeGuid{0, 16};
inline constexpr Field kPartitionGuid{16, 16};
inline constexpr Field kFirstLba{32, 8};
inline constexpr Field kLastLba{40, 8};  // inclusive
inline constexpr std::size_t kEntryBytes = 128;
inline constexpr std::size_t kUsualEntryCount = 128;
// The type GUIDs Windows writes, as they are written out.
inline constexpr std::string_view kBasicDataType = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
inline constexpr std::string_view kMsReservedType = "E3C9E316-0B5C-4DB8-817D-F92DF00215AE";
inline constexpr std::string_view kEfiSystemType = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
inline constexpr std::string_view kRecoveryType = "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC";
// A recovery partition's attributes: required by the platform, and no drive letter.
inline constexpr std::uint64_t kRecoveryAttributes = 0x8000000000000001;
// An entry's attributes: the platform requires it, and the bits each type gives a meaning.
inline constexpr Field kAttributes{48, 8};
inline constexpr Field kName{56, 72};  // UTF-16LE, up to 36 units, ended by a zero where shorter
}  // namespace gpt

}  // namespace karvo::layout
