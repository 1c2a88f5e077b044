// The GPT reader: its CRC against CRC-32's check value, each check of a
// header failing alone, the backup, the sector size, and entries that
// overlap or lie out of place.
// The disks' checksums come from zlib.
#include "disk/gpt.h"

#include <gtest/gtest.h>

#include <functional>
#include <string_view>

#include "disk/crc32.h"
#include "support/disk_images.h"

namespace karvo {
namespace {

using fixtures::DiskImage;
namespace gpt = layout::gpt;

constexpr std::string_view kRecovery = gpt::kRecoveryType;
// The two damages a checksum finds, as the reader names them.
constexpr std::string_view kHeaderCrc = "a damaged GPT header: its CRC does not match";
constexpr std::string_view kEntriesCrc = "damaged GPT entries: their CRC does not match";

using fixtures::ReadTable;

DiskImage TwoPartitions() {
  DiskImage disk(16384);
  disk.Gpt({{2048, 10239}, {10240, 12287, kRecovery}});
  return disk;
}

// What is wrong with the copy of a table read around, if it is that copy.
std::string_view Damaged(const PartitionTableReading& reading, DamagedCopy::Which which) {
  return reading.damagedCopy && reading.damagedCopy->which == which ? reading.damagedCopy->problem : "";
}
std::string_view PrimaryProblem(const PartitionTableReading& r) { return Damaged(r, DamagedCopy::Which::Primary); }
std::string_view BackupProblem(const PartitionTableReading& r) { return Damaged(r, DamagedCopy::Which::Backup); }

TEST(Crc32, GivesTheCheckValueOfCrc32AndAgreesWithZlib) {
  constexpr std::string_view kCheck = "123456789";
  const std::span<const std::uint8_t> check(reinterpret_cast<const std::uint8_t*>(kCheck.data()), kCheck.size());
  EXPECT_EQ(Crc32(check), 0xCBF43926U);
  EXPECT_EQ(Crc32({}), 0U);
  const DiskImage disk = TwoPartitions();
  EXPECT_EQ(Crc32(disk.bytes().first(70000)), fixtures::ZlibCrc32(disk.bytes().first(70000)));
}

TEST(Gpt, ReadsTheEntriesAndNamesTheirTypes) {
  DiskImage disk(32768);
  // Names as UTF-16: a character beyond the BMP, half a surrogate pair, all 36 units.
  disk.Gpt({{2048, 10239, gpt::kBasicDataType, u"Basic data partition"},
            {10240, 12287, kRecovery, u"R\u00e9c \U0001F600", gpt::kRecoveryAttributes},
            {12288, 14335, "5808C8AA-7E8F-42E0-85D2-E1E90434CFB3",
             u"a\xD800"
             u"b"},
            {14336, 16383, "AF9B60A0-1431-4F62-BC68-3311714A69AD", u"abcdefghijklmnopqrstuvwxyz0123456789"},
            {16384, 18431, "E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D"},
            {18432, 20479, "E75CAF8F-F680-4CEE-AFA3-B001E56EFC2E"}});
  const auto reading = ReadTable(disk);
  ASSERT_TRUE(reading.table) << reading.problem;
  EXPECT_EQ(PrimaryProblem(reading), "");
  EXPECT_EQ(reading.table->scheme, PartitionScheme::Gpt);
  const auto& partitions = reading.table->partitions;
  const std::string_view types[] = {"Microsoft basic data",
                                    "Windows recovery",
                                    "LDM metadata (dynamic disk)",
                                    "LDM data (dynamic disk)",
                                    "Storage Spaces",
                                    "E75CAF8F-F680-4CEE-AFA3-B001E56EFC2E"};  // one it does not know, as written
  ASSERT_EQ(partitions.size(), std::size(types));
  const std::string_view names[] = {
      "Basic data partition", "R\u00e9c \U0001F600", "a\uFFFDb", "abcdefghijklmnopqrstuvwxyz0123456789", "", ""};
  for (std::size_t i = 0; i < partitions.size(); ++i) {
    EXPECT_EQ(partitions[i].type, types[i]) << i;
    EXPECT_EQ(partitions[i].name, names[i]) << i;
  }
  EXPECT_EQ(GptAttributesText(partitions[1].attributes), "RequiredPartition GUID:63");
  const Partition& recovery = partitions[1];
  EXPECT_EQ(recovery.number, 2);
  EXPECT_EQ(recovery.firstByte, 10240 * 512);
  EXPECT_EQ(recovery.bytes, 2048 * 512) << "the last LBA is the partition's own";
  EXPECT_TRUE(recovery.windowsType);
  EXPECT_FALSE(partitions[2].windowsType);
}

// Each check of the primary header fails by itself, the header's CRC made
// right again after the change: the backup is read and the primary's fault
// named. The changes that keep a header whole leave the primary in use.
TEST(Gpt, EachCheckOfTheHeaderFailsAloneAndTheBackupIsRead) {
  struct Case {
    const char* name;
    std::function<void(std::span<std::uint8_t>)> change;  // of the primary's header sector
    std::string_view problem;                             // empty: the primary is whole
  };
  const auto set = [](layout::Field field, std::uint64_t value) {
    return [=](std::span<std::uint8_t> header) { layout::Set(header, field, value); };
  };
  const Case cases[] = {
      {"signature", [](std::span<std::uint8_t> header) { header[gpt::kSignature.End() - 1] ^= 1; },
       "a protective MBR without the GPT header behind it"},
      {"header of 92 bytes", set(gpt::kHeaderSize, 92), ""},
      {"header of 91 bytes", set(gpt::kHeaderSize, 91), "a GPT header of an impossible size"},
      {"header of a whole sector", set(gpt::kHeaderSize, 512), ""},
      {"header past its sector", set(gpt::kHeaderSize, 513), "a GPT header of an impossible size"},
      {"header in its place", set(gpt::kMyLba, 1), ""},
      {"header elsewhere", set(gpt::kMyLba, 2), "a GPT header that is not where it says it is"},
      {"entries of 127 bytes", set(gpt::kEntrySize, 127), "a GPT header with impossible partition entries"},
      {"entries of 132 bytes", set(gpt::kEntrySize, 132), "a GPT header with impossible partition entries"},
      {"257 entries", set(gpt::kEntryCount, 257), "a GPT header with impossible partition entries"},
      {"no entries", set(gpt::kEntryCount, 0), "a GPT header with impossible partition entries"},
      // The usable sectors: 34 to 16350 on this disk of 16,384, between the
      // entries (2 to 33) and the backup's (16351 to 16382).
      {"usable from behind the entries", set(gpt::kFirstUsableLba, 34), ""},
      {"usable over the entries", set(gpt::kFirstUsableLba, 33), "a GPT header whose usable sectors are impossible"},
      {"usable over the header alone",
       [](std::span<std::uint8_t> header) {
         layout::Set(header, gpt::kFirstUsableLba, 0);
         layout::Set(header, gpt::kLastUsableLba, 1);
       },
       "a GPT header whose usable sectors are impossible"},
      {"usable for one sector", set(gpt::kFirstUsableLba, 16350), ""},
      {"usable ending before it starts", set(gpt::kFirstUsableLba, 16351),
       "a GPT header whose usable sectors are impossible"},
      {"usable to the backup header", set(gpt::kLastUsableLba, 16382), ""},
      {"usable over the backup header", set(gpt::kLastUsableLba, 16383),
       "a GPT header whose usable sectors are impossible"},
      {"usable past the disk, the backup said to lie beyond",
       [](std::span<std::uint8_t> header) {
         layout::Set(header, gpt::kAlternateLba, 20000);
         layout::Set(header, gpt::kLastUsableLba, 16384);
       },
       "a GPT header whose usable sectors are impossible"},
      {"entries beyond 2^40", set(gpt::kEntriesLba, (1ULL << 40) + 1),
       "a GPT header with impossible partition entries"},
      {"entries' CRC", [](std::span<std::uint8_t> header) { header[gpt::kEntriesCrc.offset] ^= 1; }, kEntriesCrc},
  };
  for (const Case& c : cases) {
    DiskImage disk = TwoPartitions();
    c.change(disk.At(1, 512));
    disk.SealGptHeader(1);
    const auto reading = ReadTable(disk);
    ASSERT_TRUE(reading.table) << c.name << ": " << reading.problem;
    EXPECT_EQ(PrimaryProblem(reading), c.problem) << c.name;
    EXPECT_EQ(reading.table->partitions.size(), 2U) << c.name;
  }
  // The header's CRC itself, left wrong.
  DiskImage crc = TwoPartitions();
  crc.At(1, 512)[gpt::kFirstUsableLba.offset] ^= 1;
  EXPECT_EQ(PrimaryProblem(ReadTable(crc)), kHeaderCrc);
}

// As sfdisk writes them: the named three, the type's bits by number, the reserved ones not at all.
TEST(Gpt, AttributesAreWrittenAsSfdiskWritesThem) {
  const std::pair<std::uint64_t, std::string_view> cases[] = {
      {0, ""},
      {0x5, "RequiredPartition LegacyBIOSBootable"},
      {0x2 | 1ULL << 60, "NoBlockIOProtocol GUID:60"},
      {1ULL << 48 | 1ULL << 63, "GUID:48,63"},
      {1ULL << 3 | 1ULL << 47, ""},
  };
  for (const auto& [bits, text] : cases) EXPECT_EQ(GptAttributesText(bits), text) << std::hex << bits;
  EXPECT_EQ(GptAttributesBits(gpt::kRecoveryAttributes).view(), "0x8000000000000001");
}

TEST(Gpt, TheBackupIsFoundWhereThePrimarySaysOrAtTheDisksEnd) {
  // The primary's header gone: the backup at the last LBA.
  DiskImage gone = TwoPartitions();
  std::fill_n(gone.At(1, 512).begin(), 512, 0);
  EXPECT_EQ(PrimaryProblem(ReadTable(gone)), "a protective MBR without the GPT header behind it");
  EXPECT_TRUE(ReadTable(gone).table);
  // A disk grown after partitioning: the backup is at the primary's
  // alternate LBA, short of the end.
  DiskImage reference = TwoPartitions();
  DiskImage moved(16384 + 8);
  std::copy_n(reference.bytes().begin(), reference.bytes().size(), moved.At(0, reference.bytes().size()).begin());
  moved.At(2, gpt::kEntryBytes)[gpt::kFirstLba.offset] ^= 1;
  const auto fromAlternate = ReadTable(moved);
  ASSERT_TRUE(fromAlternate.table) << fromAlternate.problem;
  EXPECT_EQ(PrimaryProblem(fromAlternate), kEntriesCrc);
  // Both copies damaged: the primary's fault, and no table.
  DiskImage both = TwoPartitions();
  both.At(2, gpt::kEntryBytes)[gpt::kFirstLba.offset] ^= 1;
  both.At(both.Sectors() - 33, gpt::kEntryBytes)[gpt::kFirstLba.offset] ^= 1;
  const auto neither = ReadTable(both);
  EXPECT_FALSE(neither.table);
  EXPECT_EQ(neither.problem, kEntriesCrc);
}

TEST(Gpt, TheSectorSizeIsWhereTheHeaderIsUnlessGiven) {
  DiskImage disk(4096, kLargeSectorBytes);
  disk.Gpt({{256, 1279}});
  const auto found = ReadTable(disk);
  ASSERT_TRUE(found.table) << found.problem;
  EXPECT_EQ(found.table->sectorBytes, kLargeSectorBytes);
  EXPECT_EQ(found.table->partitions[0].firstByte, kBytesPerMiB);
  EXPECT_EQ(found.table->partitions[0].bytes, 4 * kBytesPerMiB);
  const auto told = ReadTable(disk, kSectorBytes);
  EXPECT_FALSE(told.table);
  EXPECT_EQ(told.problem, "a protective MBR without the GPT header behind it");
}

TEST(Gpt, MarksAnEntryThatStartsInsideAnother) {
  // Partition 1 ends with LBA 10239: a second that starts there shares it.
  for (const auto& [start, overlaps] : {std::pair{10239ULL, 1}, std::pair{10240ULL, 0}}) {
    DiskImage disk(32768);
    disk.Gpt({{2048, 10239}, {start, 20479}});
    const auto reading = ReadTable(disk);
    ASSERT_TRUE(reading.table) << reading.problem;
    EXPECT_EQ(reading.table->partitions[1].overlaps, overlaps) << start;
    EXPECT_EQ(reading.table->partitions[0].overlaps, 0);
  }
}

// Each entry where no partitioner puts one is listed, and marked; on a disk
// of 16,384 sectors whose usable ones are 34 to 16350.
TEST(Gpt, MarksAnEntryOutOfPlace) {
  struct Case {
    std::uint64_t first, last;
    Misplaced misplaced;
  };
  const Case cases[] = {
      {34, 2047, Misplaced::No},
      {33, 2047, Misplaced::OutsideUsable},
      {1, 2047, Misplaced::OutsideUsable},  // over the GPT itself
      {2048, 16350, Misplaced::No},
      {2048, 16351, Misplaced::OutsideUsable},  // into the backup's entries
      {2048, 16383, Misplaced::OutsideUsable},
      {2048, 16384, Misplaced::PastTheDisk},
      {2048, 2048, Misplaced::No},
      {2048, 2047, Misplaced::EndsBeforeStart},
  };
  for (const Case& c : cases) {
    DiskImage disk(16384);
    disk.Gpt({{c.first, c.last}});
    const auto reading = ReadTable(disk);
    ASSERT_TRUE(reading.table) << c.first << ".." << c.last << ": " << reading.problem;
    EXPECT_EQ(reading.table->partitions.at(0).misplaced, c.misplaced) << c.first << ".." << c.last;
    EXPECT_EQ(reading.table->firstUsable, 34U);
    EXPECT_EQ(reading.table->lastUsable, 16350U);
  }
}

// Behind a whole primary: a damaged or missing backup, and an MBR that names
// partitions of its own beside the protective entry.
TEST(Gpt, NamesADamagedBackupAndAHybridMbr) {
  const auto whole = ReadTable(TwoPartitions());
  EXPECT_EQ(BackupProblem(whole), "");
  EXPECT_FALSE(whole.table->hybridMbr);
  DiskImage damaged = TwoPartitions();
  damaged.At(damaged.Sectors() - 1, 512)[gpt::kFirstUsableLba.offset] ^= 1;
  EXPECT_EQ(BackupProblem(ReadTable(damaged)), kHeaderCrc);
  DiskImage missing = TwoPartitions();
  std::fill_n(missing.At(missing.Sectors() - 1, 512).begin(), 512, 0);
  const auto withoutBackup = ReadTable(missing);
  ASSERT_TRUE(withoutBackup.table) << withoutBackup.problem;
  EXPECT_EQ(BackupProblem(withoutBackup), "no GPT header where the primary says the backup is");
  DiskImage hybrid = TwoPartitions();
  hybrid.Mbr(1, 0x07, 2048, 8192);
  EXPECT_TRUE(ReadTable(hybrid).table->hybridMbr);
}

}  // namespace
}  // namespace karvo
