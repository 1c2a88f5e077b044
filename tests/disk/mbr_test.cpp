// The MBR reader: the four entries, the chain of logical partitions, the
// sector size it guesses, and tables that point where they should not.
#include "disk/mbr.h"

#include <gtest/gtest.h>

#include "support/disk_images.h"

namespace karvo {
namespace {

using testing::DiskImage;
using testing::NtfsSector;

using testing::ReadTable;

std::int64_t SectorBytesOf(const DiskImage& image) {
  const auto reading = ReadTable(image);
  return reading.table ? reading.table->sectorBytes : 0;
}

TEST(Mbr, TakesTheSectorSizeAtWhichThePartitionsFitAndStartSigned) {
  // Signed starts at both sizes; past the end at 4096: 512 it is.
  DiskImage small(8192);
  small.Mbr(0, 0x07, 128, 4096).Volume(128, NtfsSector(4095)).Volume(1024, NtfsSector(4095));
  EXPECT_EQ(SectorBytesOf(small), kSectorBytes);
  // Fits at 4096 and starts signed only there: 4096.
  DiskImage large(8192);
  large.Mbr(0, 0x07, 128, 896).Volume(1024, NtfsSector(896 * 8 - 1));
  EXPECT_EQ(SectorBytesOf(large), kLargeSectorBytes);
  // Fits at 4096 but starts signed equally at both (none): 512.
  DiskImage open(8192);
  open.Mbr(0, 0x83, 128, 896);
  EXPECT_EQ(SectorBytesOf(open), kSectorBytes);
  // A 4Kn disk whose table alone leaves it open is read as it is told.
  DiskImage told(4096, kLargeSectorBytes);
  told.Mbr(0, 0x07, 256, 1024).Volume(256, NtfsSector(1023, 1, 4096));
  EXPECT_EQ(SectorBytesOf(told), kLargeSectorBytes);
  const auto asSmall = ReadTable(told, kSectorBytes);
  ASSERT_TRUE(asSmall.table);
  EXPECT_EQ(asSmall.table->partitions[0].firstByte, 256 * 512);
}

TEST(Mbr, NamesTheTypesItKnows) {
  DiskImage disk(8192);
  disk.Mbr(0, 0x42, 2048, 2048).Mbr(1, 0x43, 4096, 2048);
  const auto reading = ReadTable(disk);
  ASSERT_TRUE(reading.table);
  EXPECT_EQ(reading.table->partitions[0].type, "0x42 LDM (dynamic disk)");
  EXPECT_EQ(reading.table->partitions[1].type, "0x43");
}

TEST(Mbr, ATableThatPointsOutsideOrLoopsIsDamaged) {
  // A partition that ends one sector past the disk, and one that ends with it.
  DiskImage past(4096);
  past.Mbr(0, 0x0C, 2048, 2049);
  EXPECT_EQ(ReadTable(past).problem, "a partition table that points outside the disk");
  DiskImage edge(4097);
  edge.Mbr(0, 0x0C, 2048, 2049);
  EXPECT_TRUE(ReadTable(edge).table) << "the last sector is the disk's";
  // A chain of extended boot records whose second points back at the first.
  DiskImage loop(32768);
  loop.Mbr(0, 0x0F, 10240, 22528);
  loop.Ebr(10240, 0x07, 63, 5000, 5063, 17465);
  loop.Ebr(10240 + 5063, 0x83, 63, 100, 0, 0);
  layout::Set(loop.At(10240 + 5063, 512).subspan(layout::mbr::Entry(1).offset), layout::mbr::kType, 0x05);
  EXPECT_EQ(ReadTable(loop).problem, "a damaged extended partition: its chain of logical partitions is broken");
}

}  // namespace
}  // namespace karvo
