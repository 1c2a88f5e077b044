// The layout arithmetic, the exact figure, Explorer's way of writing a size,
// and the boot-sector reader. The truth suite checks the same arithmetic
// against the real formatters; these pin what it measured, and the edges it
// cannot reach in a minute.
#include "core/volume_layout.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "core/boot_sector.h"
#include "support/disk_images.h"

namespace karvo {
namespace {

// The FAT size by Microsoft's published formula (its FAT32 white paper, version
// 1.03, "FAT Type Determination"), to compare with what the formatter made.
std::int64_t MicrosoftFat32FatSectors(std::int64_t totalSectors, std::int64_t sectorsPerCluster) {
  const std::int64_t rest = totalSectors - kFat32ReservedSectors;  // no root directory region on FAT32
  const std::int64_t perFatSector = (256 * sectorsPerCluster + kFat32Copies) / 2;
  return (rest + perFatSector - 1) / perFatSector;
}

TEST(ExplorerSizeText, WritesThreeSignificantDigitsCutNotRounded) {
  // The examples in the documentation of StrFormatByteSize.
  EXPECT_EQ(ExplorerSizeText(532), "532 bytes");
  EXPECT_EQ(ExplorerSizeText(1340), "1.30 KB");
  EXPECT_EQ(ExplorerSizeText(23506), "22.9 KB");
  EXPECT_EQ(ExplorerSizeText(2400016), "2.28 MB");
  EXPECT_EQ(ExplorerSizeText(2400000000), "2.23 GB");
  // Where a unit ends and the next begins: 1,000 of a unit is shown in the next.
  EXPECT_EQ(ExplorerSizeText(1023), "1023 bytes");
  EXPECT_EQ(ExplorerSizeText(1024), "1.00 KB");
  EXPECT_EQ(ExplorerSizeText(1000 * 1024 - 1), "999 KB");
  EXPECT_EQ(ExplorerSizeText(1000 * 1024), "0.97 MB");
  EXPECT_EQ(ExplorerSizeText(kBytesPerGiB - 1), "0.99 GB");
  EXPECT_EQ(ExplorerSizeText(kBytesPerGiB), "1.00 GB");
  EXPECT_EQ(ExplorerSizeText(10 * kBytesPerGiB - 1), "9.99 GB");
  EXPECT_EQ(ExplorerSizeText(10 * kBytesPerGiB), "10.0 GB");
  EXPECT_EQ(ExplorerSizeText(100 * kBytesPerGiB - 1), "99.9 GB");
  EXPECT_EQ(ExplorerSizeText(120 * kBytesPerGiB), "120 GB");
  EXPECT_EQ(ExplorerSizeText(301 * kBytesPerGiB + 5), "301 GB");
  EXPECT_EQ(ExplorerSizeText(2047 * kBytesPerGiB), "1.99 TB");
  EXPECT_EQ(ExplorerSizeText(INT64_MAX), "7.99 EB");
}

TEST(ExplorerShowsGigabytes, OnlyTheWholeNumberInEachOfItsThreeForms) {
  EXPECT_TRUE(ExplorerShowsGigabytes(kBytesPerGiB, 1));  // "1.00 GB"
  EXPECT_FALSE(ExplorerShowsGigabytes(kBytesPerGiB - 1, 1)) << "0.99 GB";
  EXPECT_FALSE(ExplorerShowsGigabytes(11 * kBytesPerGiB - 1, 10)) << "10.9 GB is a fraction more";
  EXPECT_FALSE(ExplorerShowsGigabytes(11 * kBytesPerGiB - 1, 11));
  EXPECT_TRUE(ExplorerShowsGigabytes(10 * kBytesPerGiB, 10));  // "10.0 GB"
  EXPECT_TRUE(ExplorerShowsGigabytes(301 * kBytesPerGiB - 1, 300));
  EXPECT_FALSE(ExplorerShowsGigabytes(301 * kBytesPerGiB, 300)) << "301 GB";
  EXPECT_FALSE(ExplorerShowsGigabytes(1000 * kBytesPerGiB, 1000)) << "0.97 TB";
}

TEST(VolumeLayout, MatchesWhatTheFormattersMade) {
  // mkfs.fat 4.2 on 1024 MiB: 2044 sectors a FAT, 261,629 clusters of 4 KiB.
  const auto fat = Fat32LayoutFor(1024);
  ASSERT_TRUE(fat);
  EXPECT_EQ(fat->totalSectors, 2097152);
  EXPECT_EQ(fat->sectorsPerCluster, 8);
  EXPECT_EQ(fat->fatSectors, 2044);
  EXPECT_EQ(fat->clusters, 261629);
  // Microsoft's published formula makes the FAT two sectors larger here.
  EXPECT_EQ(MicrosoftFat32FatSectors(fat->totalSectors, fat->sectorsPerCluster), 2046);
  // Sizes chosen where the FAT's last sector is all but full, so that its two
  // reserved entries take a sector more; mkfs.fat 4.2 made these FATs.
  struct Made {
    std::int64_t megabytes, fatSectors, clusters;
  };
  for (const Made made :
       {Made{1273, 2542, 325248}, Made{9202, 9194, 1176704}, Made{18379, 9186, 1175680}, Made{40782, 10194, 1304704}}) {
    const auto layout = Fat32LayoutFor(made.megabytes);
    ASSERT_TRUE(layout) << made.megabytes;
    EXPECT_EQ(layout->fatSectors, made.fatSectors) << made.megabytes;
    EXPECT_EQ(layout->clusters, made.clusters) << made.megabytes;
  }
  // mkntfs on 1025 MiB: every sector but the last, in 262,399 clusters.
  EXPECT_EQ(FormattedCapacity(FileSystemKind::Ntfs, 1025), (VolumeCapacity{4096, 262399}));
}

TEST(VolumeLayout, ClusterSizeStepsUpAfter8And16And32Gibibytes) {
  EXPECT_EQ(Fat32SectorsPerCluster(8192), 8);
  EXPECT_EQ(Fat32SectorsPerCluster(8193), 16);
  EXPECT_EQ(Fat32SectorsPerCluster(16384), 16);
  EXPECT_EQ(Fat32SectorsPerCluster(16385), 32);
  EXPECT_EQ(Fat32SectorsPerCluster(32768), 32);
  EXPECT_EQ(Fat32SectorsPerCluster(32769), 64);
}

TEST(VolumeLayout, RefusesWhatTheFileSystemsCannotHold) {
  EXPECT_FALSE(Fat32LayoutFor(0));
  EXPECT_FALSE(Fat32LayoutFor(-1));
  EXPECT_FALSE(Fat32LayoutFor(200)) << "too few clusters for FAT32";
  // FAT32 counts 2^32 sectors at most: a larger partition gives no more.
  EXPECT_EQ(FormattedCapacity(FileSystemKind::Fat32, 3 * 1024 * 1024),
            FormattedCapacity(FileSystemKind::Fat32, 2 * 1024 * 1024));
  EXPECT_FALSE(FormattedCapacity(FileSystemKind::Ntfs, 0));
}

TEST(VolumeLayout, NtfsClustersDoubleWithEachDoublingBeyond16Tebibytes) {
  // As Windows' defaults, and as mkntfs picks them (mkntfs -n on these sizes):
  // clusters of 4 KiB while 2^32 of them hold the volume, then the smallest
  // power of two that does, up to 2 MiB.
  constexpr std::int64_t kTiB = 1024 * 1024;  // in MiB
  const auto cluster = [](std::int64_t megabytes) { return FormattedCapacity(FileSystemKind::Ntfs, megabytes); };
  EXPECT_EQ(cluster(16 * kTiB), (VolumeCapacity{4096, 0xFFFFFFFF}));
  EXPECT_EQ(cluster(16 * kTiB + 1)->clusterBytes, 8192);
  EXPECT_EQ(cluster(32 * kTiB)->clusterBytes, 8192);
  EXPECT_EQ(cluster(32 * kTiB + 1)->clusterBytes, 16384);
  EXPECT_EQ(cluster(256 * kTiB)->clusterBytes, 65536);
  EXPECT_EQ(cluster(256 * kTiB + 1)->clusterBytes, 131072);
  EXPECT_EQ(cluster(8192 * kTiB)->clusterBytes, 2 * 1024 * 1024);
  EXPECT_FALSE(cluster(8192 * kTiB + 1)) << "beyond 2^32 clusters of 2 MiB";
}

TEST(ExactMegabytes, IsTheLeastSizeThatReachesForEveryCapacityOnTheList) {
  for (std::int32_t n = 1; n <= kCapacityCount; ++n) {
    for (FileSystemKind kind : {FileSystemKind::Fat32, FileSystemKind::Ntfs}) {
      const auto exact = ExactMegabytes(kind, n);
      ASSERT_TRUE(exact) << n;
      EXPECT_GE(FormattedCapacity(kind, *exact)->TotalBytes(), n * kBytesPerGiB) << n;
      for (std::int64_t less = n * 1024; less < *exact; ++less) {
        const auto formatted = FormattedCapacity(kind, less);
        ASSERT_TRUE(!formatted || formatted->TotalBytes() < n * kBytesPerGiB) << n << " reached at " << less;
      }
    }
    // NTFS loses only its last sector: one MiB over N GiB is always enough.
    EXPECT_EQ(ExactMegabytes(FileSystemKind::Ntfs, n), 1024 * n + 1);
  }
}

TEST(ExactMegabytes, IsDefinedForEveryCapacityTheRuleAccepts) {
  EXPECT_EQ(ExactMegabytes(FileSystemKind::Fat32, 2047), 2096640);
  EXPECT_FALSE(ExactMegabytes(FileSystemKind::Fat32, 2048));
  EXPECT_FALSE(ExactMegabytes(FileSystemKind::Fat32, MaxCapacity(FileSystemKind::Fat32)));
  EXPECT_EQ(ExactMegabytes(FileSystemKind::Ntfs, 16383), 16776193);
  EXPECT_EQ(ExactMegabytes(FileSystemKind::Ntfs, 16384), 16777217) << "the first with 8 KiB clusters";
  EXPECT_EQ(ExactMegabytes(FileSystemKind::Ntfs, MaxCapacity(FileSystemKind::Ntfs)), 2147482625);
  for (FileSystemKind kind : {FileSystemKind::Fat32, FileSystemKind::Ntfs}) {
    EXPECT_FALSE(ExactMegabytes(kind, 0));
    EXPECT_FALSE(ExactMegabytes(kind, -1));
    EXPECT_FALSE(ExactMegabytes(kind, MaxCapacity(kind) + 1));
  }
}

using testing::Fat32Sector;
using testing::NtfsSector;
using testing::Put;
using testing::Sector;
using testing::Signed;

TEST(BootSector, ReadsTheCapacityWindowsReports) {
  const auto fat = ReadBootSector(Fat32Sector());
  ASSERT_TRUE(fat.volume) << fat.problem;
  EXPECT_EQ(fat.volume->kind, FileSystemKind::Fat32);
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

TEST(BootSector, RefusesWhatNoFormatterWrites) {
  const std::int64_t volume = std::int64_t{2097152} * 512;
  struct Case {
    const char* name;
    Sector sector;
    std::int64_t sourceBytes;
    const char* reason;  // a word of the one-line reason
    bool damaged;        // FAT32 or NTFS by its boot sector, which cannot be read
  };
  Sector unsigned_ = Fat32Sector();
  unsigned_[511] = 0;
  Sector fat16 = Fat32Sector();
  Put(fat16, 22, 200, 2);
  Sector noFats = Fat32Sector();
  noFats[16] = 0;
  Sector oddSectorSize = NtfsSector();
  Put(oddSectorSize, 11, 520, 2);
  const Case cases[] = {
      {"no signature", unsigned_, volume, "signature", false},
      {"neither", Signed(), volume, "not a FAT32 or NTFS", false},
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
    EXPECT_EQ(reading.damaged, c.damaged) << c.name;
  }
  const Sector whole = Fat32Sector();
  EXPECT_TRUE(ReadBootSector(std::span(whole).first(511)).damaged) << "short";
  EXPECT_TRUE(ReadBootSector({}).damaged) << "empty";
}

}  // namespace
}  // namespace karvo
