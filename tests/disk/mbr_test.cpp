// The MBR reader: the four entries, the chain of logical partitions, the
// sector size it guesses, and tables that point where they should not.
#include "disk/mbr.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/disk_images.h"

namespace karvo {
namespace {

using fixtures::DiskImage;
using fixtures::NtfsSector;

using fixtures::ReadTable;

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

// Each table as fdisk lists it: what was read, each partition out of its
// place marked, a broken chain of logical partitions kept up to its break.
// A record unsigned, a logical partition past its extended one and a second
// extended partition are in the listing's table (karvo_size_test).
TEST(Mbr, ListsWhatWasReadAndMarksWhatIsOutOfPlace) {
  struct Listed {
    int number;
    Misplaced misplaced = Misplaced::No;
    bool operator==(const Listed&) const = default;
  };
  struct Case {
    const char* name;
    DiskImage disk;
    std::vector<Listed> partitions;
    int chainBreaksAfter = 0;
  };
  // Partition 1 an extended one of 22,528 sectors from 10,240, its first
  // logical partition of 5,000 sectors from 63 in, the next record 5,063 in.
  DiskImage chain(32768);
  chain.Mbr(0, 0x0F, 10240, 22528).Ebr(10240, 0x07, 63, 5000, 5063, 17465);
  chain.Ebr(10240 + 5063, 0x83, 63, 100);
  DiskImage loop = chain;
  layout::Set(loop.At(10240 + 5063, 512).subspan(layout::mbr::Entry(1).offset), layout::mbr::kType, 0x05);
  DiskImage firstUnsigned = chain;
  layout::Set(firstUnsigned.At(10240, 512), layout::boot_record::kSignature, 0);
  DiskImage empty(8192);
  layout::Set(empty.At(0, 512), layout::boot_record::kSignature, layout::boot_record::kSignatureValue);
  DiskImage noSectors(8192);
  noSectors.Mbr(0, 0x07, 2048, 0).Mbr(1, 0x07, 0, 2048);
  const auto edge = [](std::int64_t sectors) {
    DiskImage disk(sectors);
    disk.Mbr(0, 0x0C, 2048, 2049);
    return disk;
  };
  const Case cases[] = {
      {"a whole chain", chain, {{1}, {5}, {6}}},
      {"a chain that loops", loop, {{1}, {5}, {6}}, 6},
      {"the first record unsigned", firstUnsigned, {{1}}, 1},
      {"initialised, no partitions", empty, {}},
      {"an entry of no sectors, one from sector 0", noSectors, {{2}}},
      {"a partition one sector past the disk", edge(4096), {{1, Misplaced::PastTheDisk}}},
      {"a partition that ends with the disk", edge(4097), {{1}}},
  };
  for (const Case& c : cases) {
    const auto reading = ReadTable(c.disk);
    ASSERT_TRUE(reading.table) << c.name << ": " << reading.problem;
    std::vector<Listed> listed;
    for (const Partition& p : reading.table->partitions) listed.push_back({p.number, p.misplaced});
    EXPECT_EQ(listed, c.partitions) << c.name;
    EXPECT_EQ(reading.table->chainBreaksAfter, c.chainBreaksAfter) << c.name;
  }
  // A boot flag other than 0 and 0x80 is no table.
  layout::Set(empty.At(0, 512).subspan(layout::mbr::Entry(3).offset), layout::mbr::kBootFlag, 0x01);
  EXPECT_FALSE(HoldsPartitionTable(empty.bytes().first(512)));
}

}  // namespace
}  // namespace karvo
