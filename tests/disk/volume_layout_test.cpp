// The layout arithmetic and the exact figure. The truth suite checks the
// same arithmetic against the real formatters; these pin what it measured,
// and the edges it cannot reach in a minute.
#include "disk/volume_layout.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace karvo {
namespace {

// The FAT size by Microsoft's published formula (its FAT32 white paper, version
// 1.03, "FAT Type Determination"), to compare with what the formatter made.
std::int64_t MicrosoftFat32FatSectors(std::int64_t totalSectors, std::int64_t sectorsPerCluster) {
  const std::int64_t rest = totalSectors - kFat32ReservedSectors;  // no root directory region on FAT32
  const std::int64_t perFatSector = (256 * sectorsPerCluster + kFat32Copies) / 2;
  return (rest + perFatSector - 1) / perFatSector;
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
  EXPECT_EQ(FormattedCapacity(FileSystem::Ntfs, 1025), (VolumeCapacity{4096, 262399}));
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
  EXPECT_EQ(FormattedCapacity(FileSystem::Fat32, 3 * 1024 * 1024),
            FormattedCapacity(FileSystem::Fat32, 2 * 1024 * 1024));
  EXPECT_FALSE(FormattedCapacity(FileSystem::Ntfs, 0));
}

TEST(VolumeLayout, ExfatMatchesWhatMkfsExfatMade) {
  // mkfs.exfat (exfatprogs 1.2.0) on each side of its cluster size's steps
  // (256 MiB, 32 GiB) and of its heap's steps to the next MiB (the FAT past
  // 1 MiB at 8 GiB, past 2 MiB at 64 GiB); the smallest it makes is 3 MiB.
  struct Made {
    std::int64_t megabytes, clusterBytes, fatSectors, heapSectors, clusters;
  };
  for (const Made made : {Made{3, 4096, 8, 4096, 256}, Made{256, 4096, 512, 4096, 65024},
                          Made{257, 32768, 128, 4096, 8160}, Made{1025, 32768, 320, 4096, 32736},
                          Made{8192, 32768, 2048, 4096, 262080}, Made{8193, 32768, 2112, 6144, 262080},
                          Made{32768, 32768, 8192, 10240, 1048416}, Made{32769, 131072, 2304, 6144, 262128},
                          Made{65536, 131072, 4096, 6144, 524264}, Made{65537, 131072, 4352, 8192, 524264}}) {
    const auto layout = ExfatLayoutFor(made.megabytes);
    ASSERT_TRUE(layout) << made.megabytes;
    EXPECT_EQ(layout->clusterBytes, made.clusterBytes) << made.megabytes;
    EXPECT_EQ(layout->fatBytes, made.fatSectors * 512) << made.megabytes;
    EXPECT_EQ(layout->heapOffsetBytes, made.heapSectors * 512) << made.megabytes;
    EXPECT_EQ(layout->clusters, made.clusters) << made.megabytes;
  }
  EXPECT_FALSE(ExfatLayoutFor(2)) << "no room for a heap behind the FAT's MiB";
  // Its heap offset is 32 bits of bytes: 4095 MiB at most, behind a FAT of
  // 4094 MiB, whose 4 bytes a cluster are 32 for each MiB of 128 KiB clusters.
  constexpr std::int64_t kLargest = 4094 * kBytesPerMiB / 32;
  ASSERT_TRUE(ExfatLayoutFor(kLargest));
  EXPECT_EQ(ExfatLayoutFor(kLargest)->heapOffsetBytes, 4095 * kBytesPerMiB);
  EXPECT_FALSE(ExfatLayoutFor(kLargest + 1));
  const std::int32_t largest = LargestCapacity(FileSystem::Exfat, CapacityUse::Exact);
  EXPECT_EQ(largest, ExfatLayoutFor(kLargest)->clusters * 131072 / kBytesPerGiB);
  EXPECT_TRUE(ExactMegabytes(FileSystem::Exfat, largest));
  EXPECT_FALSE(ExactMegabytes(FileSystem::Exfat, largest + 1));
}

TEST(VolumeLayout, NtfsClustersDoubleWithEachDoublingBeyond16Tebibytes) {
  // As Windows' defaults, and as mkntfs picks them (mkntfs -n on these sizes):
  // clusters of 4 KiB while 2^32 of them hold the volume, then the smallest
  // power of two that does, up to 2 MiB.
  constexpr std::int64_t kTiB = 1024 * 1024;  // in MiB
  const auto cluster = [](std::int64_t megabytes) { return FormattedCapacity(FileSystem::Ntfs, megabytes); };
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
    for (FileSystem kind : kFileSystems) {
      const auto exact = ExactMegabytes(kind, n);
      ASSERT_TRUE(exact) << n;
      EXPECT_GE(FormattedCapacity(kind, *exact)->TotalBytes(), n * kBytesPerGiB) << n;
      for (std::int64_t less = n * 1024; less < *exact; ++less) {
        const auto formatted = FormattedCapacity(kind, less);
        ASSERT_TRUE(!formatted || formatted->TotalBytes() < n * kBytesPerGiB) << n << " reached at " << less;
      }
    }
    // NTFS loses only its last sector: one MiB over N GiB is always enough.
    EXPECT_EQ(ExactMegabytes(FileSystem::Ntfs, n), 1024 * n + 1);
  }
}

TEST(ExactMegabytes, IsDefinedForEveryCapacityTheRuleAccepts) {
  EXPECT_EQ(ExactMegabytes(FileSystem::Fat32, 2047), 2096640);
  EXPECT_FALSE(ExactMegabytes(FileSystem::Fat32, 2048));
  EXPECT_FALSE(ExactMegabytes(FileSystem::Fat32, MaxCapacity(FileSystemKind::Fat32)));
  EXPECT_EQ(ExactMegabytes(FileSystem::Ntfs, 16383), 16776193);
  EXPECT_EQ(ExactMegabytes(FileSystem::Ntfs, 16384), 16777217) << "the first with 8 KiB clusters";
  EXPECT_EQ(ExactMegabytes(FileSystem::Ntfs, MaxCapacity(FileSystemKind::Ntfs)), 2147482625);
  for (FileSystem kind : {FileSystem::Fat32, FileSystem::Ntfs}) {
    EXPECT_FALSE(ExactMegabytes(kind, 0));
    EXPECT_FALSE(ExactMegabytes(kind, -1));
    EXPECT_FALSE(ExactMegabytes(kind, LargestCapacity(kind, CapacityUse::Exact) + 1));
  }
}

}  // namespace
}  // namespace karvo
