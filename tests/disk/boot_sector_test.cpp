// The boot-sector reader: FAT32, NTFS and exFAT as Windows reads them,
// exFAT's boot region and its backup, and what no formatter writes.
#include "disk/boot_sector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "support/disk_images.h"

namespace karvo {
namespace {

using fixtures::BitLockerSector;
using fixtures::Fat32Sector;
using fixtures::NtfsSector;
using layout::Set;
namespace fat = layout::fat;
using fixtures::Sector;
using fixtures::Signed;

TEST(BootSector, ReadsTheCapacityWindowsReports) {
  const auto fat = ReadBootSector(Fat32Sector());
  ASSERT_TRUE(fat.volume) << fat.problem;
  EXPECT_EQ(fat.volume->kind, FileSystem::Fat32);
  EXPECT_EQ(fat.volume->capacity, (VolumeCapacity{4096, 261629}));
  const auto ntfs = ReadBootSector(NtfsSector(), 1025 * kBytesPerMiB);
  ASSERT_TRUE(ntfs.volume) << ntfs.problem;
  EXPECT_EQ(ntfs.volume->capacity, (VolumeCapacity{4096, 262399}));
  // Large NTFS clusters are written as a negative power of two: 0xF4 is 2^12 sectors.
  EXPECT_EQ(ReadBootSector(NtfsSector(1 << 24, 0xF4)).volume->capacity.clusterBytes, 4096 * 512);
  // 128 sectors, the largest cluster written as a count (mkntfs -c 65536 writes 0x80).
  EXPECT_EQ(ReadBootSector(NtfsSector(1 << 24, 0x80)).volume->capacity.clusterBytes, 65536);
}

TEST(BootSector, ReadsFat32WithFewClustersAsWindowsDoes) {
  // The 16-bit FAT size is 0, so Windows mounts it as FAT32 whatever the
  // count: 65,524 and 65,525 clusters of 512 bytes (one FAT of 513 sectors).
  for (const std::uint32_t clusters : {65524U, 65525U, 1U}) {
    const auto reading = ReadBootSector(Fat32Sector(32 + 2 * 513 + clusters, 513, 1));
    ASSERT_TRUE(reading.volume) << clusters << ": " << reading.problem;
    EXPECT_EQ(reading.volume->capacity, (VolumeCapacity{512, clusters}));
  }
  // 4096-byte sectors, as mkfs.fat -S 4096 writes them.
  const auto large = ReadBootSector(Fat32Sector(262144, 256, 1, 4096));
  ASSERT_TRUE(large.volume) << large.problem;
  EXPECT_EQ(large.volume->capacity, (VolumeCapacity{4096, 261600}));
}

TEST(BootSector, KnowsFat32ByItsFieldsWhateverItsTypeText) {
  // The type text is a label: Windows goes by a 16-bit FAT size of 0 and a
  // 32-bit one that is not.
  Sector blank = Fat32Sector();
  layout::SetText(blank, fat::kFat32TypeText, "        ");
  const auto read = ReadBootSector(blank);
  ASSERT_TRUE(read.volume) << read.problem;
  EXPECT_EQ(read.volume->capacity, (VolumeCapacity{4096, 261629}));
  Set(blank, fat::kFatSectors32, 0);
  EXPECT_EQ(ReadBootSector(blank).problem, "not a FAT32, NTFS or exFAT volume");
  Set(blank, fat::kFatSectors16, 200);
  EXPECT_EQ(ProblemLine(ReadBootSector(blank)), "a FAT16 volume: karvo-size reads FAT32, NTFS and exFAT");
}

namespace exfat = layout::exfat;

// An exFAT volume's boot sector with its boot regions, as it would be read.
BootSectorReading ReadExfat(const Sector& sector) { return ReadBootSector(fixtures::ExfatBootRegions(sector)); }

TEST(BootSector, ReadsExfatAndRefusesEachImpossibleField) {
  const auto read = ReadBootSector(fixtures::ExfatBootRegions(fixtures::ExfatSector()), kBytesPerGiB);
  ASSERT_TRUE(read.volume) << read.problem;
  EXPECT_EQ(read.volume->kind, FileSystem::Exfat);
  EXPECT_EQ(read.volume->capacity, (VolumeCapacity{32768, 32704}));
  EXPECT_EQ(read.volume->volumeBytes, kBytesPerGiB);
  EXPECT_EQ(read.note, "");
  // 4096-byte sectors: 1 GiB in 262,144 of them, clusters of 8 sectors.
  Sector large = fixtures::ExfatSector(262144, 32704);
  for (const auto& [field, value] : {std::pair{exfat::kBytesPerSectorShift, 12},
                                     {exfat::kSectorsPerClusterShift, 3},
                                     {exfat::kFatOffset, 256},
                                     {exfat::kFatLength, 32},
                                     {exfat::kClusterHeapOffset, 512}}) {
    Set(large, field, static_cast<std::uint64_t>(value));
  }
  const auto fromLarge = ReadExfat(large);
  ASSERT_TRUE(fromLarge.volume) << fromLarge.problem;
  EXPECT_EQ(fromLarge.volume->capacity, (VolumeCapacity{32768, 32704}));
  EXPECT_EQ(fromLarge.volume->bytesPerSector, 4096);
  EXPECT_EQ(fromLarge.volume->volumeBytes, kBytesPerGiB);
  struct Case {
    layout::Field field;
    std::uint64_t value;
    const char* reason;  // empty: still read
    std::uint32_t clusters = 32704;
    std::uint64_t fats = 1;
  };
  const Case cases[] = {
      {{exfat::kMustBeZero.End() - 1, 1}, 1, "bytes 11 to 63"},
      {exfat::kRevision, 0x0000, "revision other than 1"},
      {exfat::kRevision, 0x01FF, ""},
      {exfat::kRevision, 0x0200, "revision other than 1"},
      {exfat::kBytesPerSectorShift, 8, "sector size"},
      {exfat::kBytesPerSectorShift, 12, ""},
      {exfat::kBytesPerSectorShift, 13, "sector size"},
      {exfat::kSectorsPerClusterShift, 16, "", 31},  // 32 MiB clusters, as many as fit
      {exfat::kSectorsPerClusterShift, 17, "cluster size", 15},
      {exfat::kFatCount, 0, "number of FATs"},
      {exfat::kFatCount, 2, ""},
      {exfat::kFatCount, 3, "number of FATs"},
      {exfat::kVolumeLength, 0, "no sectors"},
      {exfat::kFatOffset, 23, "boot region"},
      {exfat::kFatOffset, 24, ""},
      {exfat::kFatLength, 255, "cannot hold"},  // 32,704 clusters and 2 take 256 sectors
      {exfat::kFatOffset, 3841, "run into its clusters"},
      {exfat::kFatOffset, 3584, "", 32704, 2},  // two FATs of 256 sectors end where the heap begins
      {exfat::kFatOffset, 3585, "run into its clusters", 32704, 2},
      {exfat::kClusterCount, 0, "no clusters"},
      {exfat::kClusterCount, 32705, "past the volume"},  // heap at 4096, 64 sectors each, 2 Mi sectors
      {exfat::kRootCluster, 1, "root directory"},
      {exfat::kRootCluster, 32705, ""},
      {exfat::kRootCluster, 32706, "root directory"},
  };
  for (const Case& c : cases) {
    Sector sector = fixtures::ExfatSector(2097152, c.clusters);
    Set(sector, exfat::kFatCount, c.fats);
    Set(sector, c.field, c.value);
    const auto reading = ReadExfat(sector);
    EXPECT_EQ(reading.volume.has_value(), *c.reason == '\0') << c.field.offset << " = " << c.value;
    EXPECT_NE(reading.problem.find(c.reason), std::string_view::npos) << c.field.offset << ": " << reading.problem;
    EXPECT_EQ(reading.outcome == Outcome::Damaged, *c.reason != '\0') << c.field.offset << " = " << c.value;
  }
}

// The main boot region fails by its jump or its checksum, over eleven
// sectors and written all over the twelfth: the backup is read, and said to
// be; both failing, the volume is damaged. The fields that change as the
// volume is used are left out of the checksum.
TEST(BootSector, ReadsExfatFromItsBackupBootRegionWhenTheMainOneFails) {
  constexpr std::size_t kRegionBytes = fixtures::kExfatRegionSectors * 512;
  const auto flip = [](std::size_t at) { return [at](std::span<std::uint8_t> regions) { regions[at] ^= 1; }; };
  struct Case {
    const char* name;
    std::function<void(std::span<std::uint8_t>)> change;  // of the main region, then the backup
    std::string_view note;                                // empty: the main region read
    std::string_view problem;                             // empty: a volume
  };
  const Case cases[] = {
      {"whole", [](std::span<std::uint8_t>) {}, "", ""},
      {"flags and use",
       [](std::span<std::uint8_t> regions) {
         for (const auto field : {exfat::kVolumeFlags, exfat::kPercentInUse}) Set(regions, field, 0x5A);
       },
       "", ""},
      {"first sector", flip(exfat::kRootCluster.offset), "checksum does not match: read from its backup", ""},
      {"eleventh sector", flip(11 * 512 - 1), "checksum does not match: read from its backup", ""},
      {"checksum's last word", flip(kRegionBytes - 1), "checksum does not match: read from its backup", ""},
      {"cluster shift", [](std::span<std::uint8_t> regions) { Set(regions, exfat::kSectorsPerClusterShift, 4); },
       "checksum does not match: read from its backup", ""},
      {"jump",
       [](std::span<std::uint8_t> regions) {
         Set(regions, layout::boot_record::kJump, 0x9058EB);
         fixtures::SealExfatRegion(regions.first(kRegionBytes), 512);
       },
       "without exFAT's jump: read from the backup", ""},
      {"both checksums",
       [](std::span<std::uint8_t> regions) {
         regions[exfat::kRootCluster.offset] ^= 1;
         regions[kRegionBytes + exfat::kRootCluster.offset] ^= 1;
       },
       "", "checksum does not match, and no whole backup"},
      {"both jumps",
       [](std::span<std::uint8_t> regions) {
         Set(regions, layout::boot_record::kJump, 0x9058EB);
         Set(regions.subspan(kRegionBytes), layout::boot_record::kJump, 0x9058EB);
       },
       "", "without exFAT's jump, and no whole backup"},
  };
  for (const Case& c : cases) {
    auto regions = fixtures::ExfatBootRegions(fixtures::ExfatSector());
    c.change(regions);
    const auto reading = ReadBootSector(regions);
    EXPECT_EQ(reading.volume.has_value(), c.problem.empty()) << c.name;
    EXPECT_NE(reading.note.find(c.note), std::string_view::npos) << c.name << ": " << reading.note;
    EXPECT_EQ(reading.note.empty(), c.note.empty()) << c.name;
    EXPECT_NE(reading.problem.find(c.problem), std::string_view::npos) << c.name << ": " << reading.problem;
    EXPECT_EQ(reading.outcome == Outcome::Damaged, !c.problem.empty()) << c.name;
    if (reading.volume) {
      EXPECT_EQ(reading.volume->capacity, (VolumeCapacity{32768, 32704})) << c.name;
    }
  }
}

TEST(BootSector, NamesBitLockerAndReFSBeforeTrustingAnyHeader) {
  namespace bitlocker = layout::bitlocker;
  const Sector vista = BitLockerSector(bitlocker::kVistaJump, bitlocker::kSignatureText);
  const Sector seven = BitLockerSector(bitlocker::kJump7, bitlocker::kSignatureText);
  Sector toGo = BitLockerSector(bitlocker::kJump7, bitlocker::kToGoOemName);
  layout::SetText(toGo, bitlocker::kToGoIdentifier, bitlocker::kToGoIdentifierBytes);
  // Windows 98's FAT32: the same jump and name, without BitLocker's identifier.
  const Sector windows98 = BitLockerSector(bitlocker::kJump7, bitlocker::kToGoOemName);
  Sector refs{};
  layout::SetText(refs, layout::refs::kSignature, layout::refs::kSignatureText);
  layout::SetText(refs, layout::refs::kIdentifier, layout::refs::kIdentifierText);
  Sector notRefs = refs;
  notRefs[layout::refs::kIdentifier.offset] = 'X';
  // A volume of another kind whose BIOS parameter block has no FAT (OS/2's HPFS).
  Sector hpfs = Fat32Sector();
  layout::SetText(hpfs, fat::kFat32TypeText, "        ");
  Set(hpfs, fat::kFatCount, 0);
  struct Case {
    const char* name;
    Sector sector;
    std::string_view problem;  // the start of it; empty for FAT32
  };
  const Case cases[] = {
      {"Vista", vista, "a BitLocker volume (Windows Vista): unlock it"},
      {"Windows 7", seven,
       "a BitLocker volume: unlock it and inspect it by its drive letter on Windows, or on Linux "
       "the device that cryptsetup open --type bitlk makes"},
      {"To Go", toGo, "a BitLocker To Go volume: unlock it"},
      {"Windows 98", windows98, ""},
      {"ReFS", refs, "a ReFS volume: karvo-size reads FAT32, NTFS and exFAT"},
      {"not ReFS", notRefs, "no boot sector signature"},
      {"HPFS", hpfs, "not a FAT32, NTFS or exFAT volume"},
  };
  for (const Case& c : cases) {
    const auto reading = ReadBootSector(c.sector);
    EXPECT_EQ(reading.volume.has_value(), c.problem.empty()) << c.name;
    EXPECT_TRUE(ProblemLine(reading).starts_with(c.problem)) << c.name << ": " << ProblemLine(reading);
    EXPECT_NE(reading.outcome, Outcome::Damaged) << c.name;
  }
  // BitLocker To Go known by its metadata block, 64-byte aligned, which
  // starts "-FVE-FS-" where the boot sector says.
  std::array<std::uint8_t, 8192> volume{};
  std::copy(windows98.begin(), windows98.end(), volume.begin());
  for (const std::size_t at : {4096, 6148}) {
    layout::SetText(std::span(volume).subspan(at), bitlocker::kMetadataSignature, bitlocker::kSignatureText);
  }
  for (const auto& [offset, named] : {std::pair{4096U, true}, std::pair{4032U, false}, std::pair{6148U, false}}) {
    Set(volume, bitlocker::kToGoMetadataOffset, offset);
    fixtures::MemoryDisk disk(volume);
    const auto reading = ReadBootSector(std::span(volume).first(512), std::nullopt, disk, 0);
    EXPECT_EQ(reading.problem.starts_with("a BitLocker To Go volume"), named) << offset << ": " << reading.problem;
  }
}

TEST(BootSector, RefusesWhatNoFormatterWrites) {
  const std::int64_t volume = std::int64_t{2097152} * 512;
  struct Case {
    const char* name;
    Sector sector;
    std::int64_t sourceBytes;
    const char* reason;  // a word of the one-line reason
    bool damaged;        // FAT32, NTFS or exFAT by its boot sector, which cannot be read
  };
  Sector unsigned_ = Fat32Sector();
  Set(unsigned_, layout::boot_record::kSignature, 0x0055);
  Sector fat16 = Fat32Sector();
  Set(fat16, fat::kFatSectors16, 200);
  Sector noFats = Fat32Sector();
  Set(noFats, fat::kFatCount, 0);
  Sector oddSectorSize = NtfsSector();
  Set(oddSectorSize, layout::ntfs::kBytesPerSector, 520);
  const Case cases[] = {
      {"no signature", unsigned_, volume, "signature", false},
      {"neither", Signed(), volume, "not a FAT32, NTFS or exFAT", false},
      {"FAT16 fields", fat16, volume, "FAT16", false},
      {"no FATs", noFats, volume, "no FAT", true},
      {"zero sectors a cluster", Fat32Sector(2097152, 2044, 0), volume, "cluster size", true},
      {"three sectors a cluster", Fat32Sector(2097152, 2044, 3), volume, "cluster size", true},
      {"FATs larger than the volume", Fat32Sector(2097152, 0xFFFFFFFF), volume, "larger than the volume", true},
      {"two FATs just over the volume", Fat32Sector(2097152, 2097152 / 2), volume, "larger than the volume", true},
      {"FAT too small for its clusters", Fat32Sector(2097152, 100), volume, "cannot hold", true},
      {"room for no cluster", Fat32Sector(32 + 2 + 7, 1), volume, "no room for a cluster", true},
      {"no FAT32 sectors", Fat32Sector(0, 2044), volume, "no sectors", true},
      {"NTFS zero cluster", NtfsSector(2099199, 0), volume, "cluster size", true},
      {"NTFS cluster of 2^100 sectors", NtfsSector(2099199, 256 - 100), volume, "cluster size", true},
      {"NTFS sector size", oddSectorSize, volume, "sector size", true},
      {"NTFS overflowing size", NtfsSector(UINT64_MAX), volume, "overflows", true},
      {"NTFS no sectors", NtfsSector(0), volume, "no sectors", true},
      {"NTFS smaller than a cluster", NtfsSector(7), volume, "smaller than a cluster", true},
      {"truncated image", Fat32Sector(), volume - 1, "truncated", true},
  };
  for (const Case& c : cases) {
    const auto reading = ReadBootSector(c.sector, c.sourceBytes);
    EXPECT_FALSE(reading.volume) << c.name;
    EXPECT_NE(reading.problem.find(c.reason), std::string_view::npos) << c.name << ": " << reading.problem;
    EXPECT_EQ(reading.outcome == Outcome::Damaged, c.damaged) << c.name;
  }
  const Sector whole = Fat32Sector();
  EXPECT_EQ(ReadBootSector(std::span(whole).first(511)).outcome, Outcome::Damaged) << "short";
  EXPECT_EQ(ReadBootSector({}).outcome, Outcome::Damaged) << "empty";
}

}  // namespace
}  // namespace karvo
