// karvo-size's logic in process: its arguments, its figures and ranges, and
// --inspect over disks built in memory, with the facts a platform's opener
// gives (the size, a device's sector size, a pipe that cannot seek).
#include "cli/karvo_size.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/json.h"
#include "support/disk_images.h"
#include "support/memory_disk.h"

namespace karvo::cli {
namespace {

using fixtures::DiskImage;
using fixtures::Fat32Sector;
using fixtures::NtfsSector;
using fixtures::Sector;

// The sources the opener finds by path.
struct Opened {
  std::vector<std::uint8_t> bytes;
  std::optional<std::int64_t> deviceSectorBytes;
  bool stream = false;
  std::optional<std::int64_t> claimedBytes;  // a device that reports more than it can read
  std::string partitionOf;                   // a device that is a partition of this disk
};
std::map<std::string, Opened, std::less<>> g_sources;

Source OpenFromMemory(std::string_view path) {
  const auto found = g_sources.find(path);
  Source source;
  if (found == g_sources.end()) {
    source.problem = "No such file or directory";
    source.missing = true;
  } else if (found->second.stream) {
    source.reader = std::make_unique<fixtures::MemoryDisk>(found->second.bytes, fixtures::MemoryDisk::Stream{});
  } else {
    auto disk = std::make_unique<fixtures::MemoryDisk>(found->second.bytes, found->second.deviceSectorBytes);
    if (found->second.claimedBytes) disk->ClaimSize(*found->second.claimedBytes);
    source.reader = std::move(disk);
    source.partitionOf = found->second.partitionOf;
  }
  return source;
}

Result RunWith(std::initializer_list<std::string_view> args) {
  const std::vector<std::string_view> list(args);
  return Run(list, &OpenFromMemory);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// A refusal: status 2, nothing on stdout, one line on stderr with each word.
void ExpectRefused(const std::vector<std::string>& args, const std::vector<std::string>& words) {
  const std::vector<std::string_view> views(args.begin(), args.end());
  const Result result = Run(views, &OpenFromMemory);
  std::string line;
  for (std::string_view arg : args) line += std::string(arg) + " ";
  EXPECT_EQ(result.exitCode, kExitFailed) << line;
  EXPECT_EQ(result.out, "") << line;
  EXPECT_EQ(std::count(result.error.begin(), result.error.end(), '\n'), 1) << line << result.error;
  for (const std::string& word : words) {
    EXPECT_NE(result.error.find(word), std::string::npos) << line << "-> " << result.error << " lacks " << word;
  }
}

// Each refusal: the arguments, and words of the one line it gives.
struct Refusal {
  std::vector<std::string> args;
  std::vector<std::string> words;
};

const Refusal kRefusals[] = {
    {{"ntfs", "abc"}, {"\"abc\"", "fat32, ntfs or exfat"}},
    {{"ntfs", "12abc"}, {"\"12abc\"", "1 to 2097151 for NTFS"}},
    {{"ntfs", "1.5"}, {"\"1.5\"", "1 to 2097151 for NTFS"}},
    {{"ntfs", "0"}, {"\"0\" is not a positive", "1 to 2097151 for NTFS"}},
    {{"ntfs", "-5"}, {"\"-5\"", "1 to 2097151 for NTFS"}},
    {{"ntfs", "2097152"}, {"\"2097152\" is too large", "1 to 2097151 for NTFS", "32 bits"}},
    {{"hfs", "5"}, {"\"hfs\"", "fat32, ntfs or exfat"}},
    {{"--fs", "hfs", "5"}, {"\"hfs\"", "fat32, ntfs or exfat"}},
    {{"ntfs", "fat32", "5"}, {"\"fat32\"", "give one"}},
    {{"--fs", "fat32", "--fs", "ntfs", "5"}, {"\"ntfs\"", "give one"}},
    {{"ntfs"}, {"no capacity", "1 to 2097151 for NTFS"}},
    {{"--exact", "fat32"}, {"no capacity", "1 to 2047 for FAT32"}},
    {{"--frobnicate"}, {"\"--frobnicate\"", "--help"}},
    {{"-x"}, {"unknown option \"-x\""}},
    {{"--exact=1", "1"}, {"unknown option \"--exact=1\""}},
    {{"--fsx", "ntfs", "1"}, {"unknown option \"--fsx\""}},
    {{"--table", "5"}, {"\"5\"", "1 to 300 GB"}},
    {{"--table", "--fs", "fat32"}, {"\"fat32\"", "1 to 300 GB"}},
    {{"--csv", "--partno", "1"}, {"\"--partno\"", "1 to 300 GB"}},
    {{"--table", "--csv"}, {"\"--csv\" after \"--table\"", "one of"}},
    {{"--inspect", "a", "--inspect=b"}, {"\"--inspect=b\"", "one of"}},
    {{"--inspect", ""}, {"--inspect needs the path"}},
    {{"--inspect"}, {"--inspect needs the path"}},
    {{"--inspect", "img", "abc"}, {"\"abc\" is not a capacity: give whole gigabytes"}},
    {{"--inspect", "img", "1", "2"}, {"\"2\" is one capacity too many"}},
    {{"--message", "--exact", "1"}, {"do not go together"}},
    {{"--", "--table"}, {"\"--table\""}},
    {{"ntfs", std::string(40, 'x')}, {"\"" + std::string(40, 'x') + "\""}},
    {{"ntfs", std::string(41, 'x')}, {"\"" + std::string(37, 'x') + "...\" (41 characters)"}},
    {{"fat32", std::string(40, '9')}, {"too large", "1 to 2040 for FAT32"}},
    {{"--exact", "--exact", "1"}, {"\"--exact\" is given twice"}},
    {{"--message", "1", "--message"}, {"\"--message\" is given twice"}},
    {{"--version", "extra"}, {"\"extra\" does not go with --version"}},
    {{"120", "--version"}, {"\"120\" does not go with --version"}},
    {{"--version", "--version"}, {"\"--version\" is given twice"}},
    {{"--inspect", "d", "--partno", "1", "--partno=2"}, {"\"--partno\" is given twice"}},
    {{"--inspect", "d", "--sector-size", "512", "--sector-size=512"}, {"\"--sector-size\" is given twice"}},
    {{"--inspect", "d", "--partno", "0"}, {"--partno needs a partition's number"}},
    {{"--inspect", "d", "--partno", "x"}, {"--partno needs"}},
    {{"--inspect", "d", "--partno"}, {"--partno needs"}},
    {{"--inspect", "d", "--partno=12345"}, {"--partno needs"}},
    {{"--inspect", "d", "--sector-size", "511"}, {"--sector-size needs", "512 or 4096"}},
    {{"--inspect", "d", "--sector-size", "1024"}, {"--sector-size needs", "512 or 4096"}},
    {{"--inspect", "d", "--sector-size", "4097"}, {"--sector-size needs", "512 or 4096"}},
    {{"--inspect", "d", "--sector-size", ""}, {"--sector-size needs", "512 or 4096"}},
    {{"--inspect", "d", "--sector-size", "8192"}, {"--sector-size needs", "512 or 4096"}},
    {{"--partno", "1", "120"}, {"\"--partno\" goes with --inspect", "default layout"}},
    {{"--sector-size", "4096", "120"}, {"--sector-size goes with --exact", "512-byte sectors"}},
    {{"--exact", "--sector-size", "4096", "fat32", "8192"}, {"1 to 8191 for FAT32", "4096-byte sectors ends at 8 TiB"}},
    {{"--plan"}, {"--plan needs a disk"}},
    {{"--plan", "1TB", "--mbr", "--mbr", "ntfs", "1"}, {"\"--mbr\" is given twice"}},
    {{"--plan", "1TB", "--inspect", "x"}, {"\"--inspect\" after \"--plan\""}},
    {{"--plan", "1TB", "--partno", "1", "ntfs", "1"}, {"\"--partno\" goes with --inspect, not with --plan"}},
    {{"--mbr", "ntfs", "1"}, {"\"--mbr\" goes with --plan"}},
    {{"--inspect", "img", "ntfs"}, {"only a capacity", "\"ntfs\" goes with the figures or --plan"}},
    {{"--plan", "1TB", "--recovery", "299", "ntfs", "1"}, {"--recovery needs", "300 to 9999"}},
    {{"--plan", "1TB", "--recovery", "300", "ntfs", "1"}, {"--recovery goes with --windows"}},
    {{"--plan", "1TB", "--diskpart", "x", "ntfs", "1"}, {"--diskpart needs"}},
    {{"--plan", "1TB", "--assign", "ntfs", "1"}, {"--assign goes with --diskpart N"}},
    {{"ntfs", "1", "--csv", "--plan", "1TB", "--sfdisk"}, {"--sfdisk, --diskpart and --csv", "give one of them"}},
    {{"--plan", "1TB", "ntfs", "rest", "1"}, {"\"rest\" goes once, last"}},
    {{"--plan", "1TB", "ntfs", "9000"}, {"1 TB drive: the plan does not fit: it needs", "MiB ("}},
    {{"--plan", "1TB", "fat32", "2048"}, {"\"2048\" is too large", "1 to 2047 for FAT32"}},
    {{"--plan", "3TB", "--mbr", "ntfs", "1"}, {"3 TB drive: a disk of more than 2^32 sectors", "GPT"}},
    {{"--plan", "1TB", "ntfs", "zz"}, {"unknown file system \"zz\""}},
    {{"--plan", "missing", "ntfs", "1"}, {"missing: No such file", "no disk's size either", "931.5GiB"}},
    {{"--plan", "1T", "ntfs", "1"}, {"\"1T\" is ambiguous", "1TB", "1TiB"}},
    {{"--plan", "1.5tB", "ntfs", "2000"}, {"1.5 TB drive: the plan does not fit"}},
    {{"--plan", "9999999TB", "ntfs", "100", "rest", "--sfdisk"}, {"\"9999999TB\" is too large", "2^63 bytes"}},
    {{"--plan", "8388608TiB", "ntfs", "1"}, {"\"8388608TiB\" is too large"}},
    {{"--plan", "8388607TiB", "--mbr", "ntfs", "1"}, {"8388607TiB: a disk of more than 2^32 sectors"}},
    {{"--plan", "1TB", "100", "fat32"}, {"\"fat32\" has no capacity after it"}},
    {{"--plan", "1TB", "ntfs", "fat32", "1"}, {"\"ntfs\" has no capacity after it"}},
    {{"--diskpart", "1"}, {"\"--diskpart\" goes with --plan, not with the figures"}},
    {{"--inspect", "d", "--table"}, {"\"--table\" after \"--inspect\"", "one of"}},
    {{"fat32", "2041"}, {"\"2041\" is too large", "1 to 2040 for FAT32", "ends at 2 TiB", "--exact"}},
    {{"--message", "fat32", "2041"}, {"1 to 2040 for FAT32"}},
    {{"--exact", "fat32", "2048"}, {"\"2048\" is too large", "1 to 2047 for FAT32", "ends at 2 TiB"}},
    {{"fat32", "2088992"}, {"1 to 2040 for FAT32"}},
    {{"--message", "exfat", "1"}, {"--message does not go with exFAT", "exact figure"}},
    {{"exfat", "131005"}, {"\"131005\" is too large", "1 to 131004 for exFAT", "mkfs.exfat"}},
    {{"--json", "--csv"}, {"--json and --csv are two forms"}},
    {{"--message", "1", "--json"}, {"--json and --message do not go together"}},
    {{"--plan", "1TB", "--json", "--diskpart", "1", "ntfs", "1"}, {"--json, --sfdisk and --diskpart"}},
    {{"--json", "--exact"}, {"no capacity"}},  // an option of the figures': not the table
};

TEST(Arguments, EachRefusalIsOneLineThatNamesTheWordAndWhatHolds) {
  for (const Refusal& refusal : kRefusals) ExpectRefused(refusal.args, refusal.words);
}

TEST(Arguments, ALongWordIsShortenedVersionStandsAloneAndHelpWins) {
  const Result longWord = RunWith({"ntfs", std::string(5000, '7')});
  EXPECT_LT(longWord.error.size(), 200U) << "a long argument is shortened";
  EXPECT_NE(longWord.error.find("\"" + std::string(20, '7')), std::string::npos);
  EXPECT_EQ(RunWith({"--version"}).out, "karvo-size " KARVO_VERSION "\n");
  EXPECT_EQ(RunWith({"--version"}).exitCode, 0);
  // Help wins over anything beside it, as everywhere.
  const Result help = RunWith({"--exact", "--help", "extra"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: karvo-size"), std::string::npos);
}

// Every string goes through one escaping: what JSON must escape, UTF-8 as it
// is, and each byte that is not part of valid UTF-8 as the surrogate that
// stands for it, at each edge of the valid ranges.
TEST(Json, EscapesWhatItMustAndKeepsEveryByteRecoverable) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"plain /dev/sdb", R"("plain /dev/sdb")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\n\t\r\x01\x1f\x7f ", R"("\n\t\r\u0001\u001f\u007f ")"},
      {std::string_view("\0", 1), R"("\u0000")"},
      {"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
      {"\xff", R"("\udcff")"},
      {"\xc1\xbf", R"("\udcc1\udcbf")"},  // overlong
      {"\xc2\x80", "\"\xc2\x80\""},
      {"\xe0\x9f\xbf", R"("\udce0\udc9f\udcbf")"},  // overlong
      {"\xe0\xa0\x80", "\"\xe0\xa0\x80\""},
      {"\xed\x9f\xbf", "\"\xed\x9f\xbf\""},
      {"\xed\xa0\x80", R"("\udced\udca0\udc80")"},  // a surrogate
      {"\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},
      {"\xf4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")"},  // past U+10FFFF
      {"\xe2\x82x", R"("\udce2\udc82x")"},                    // cut short
      {"x\xc3", R"("x\udcc3")"},
  };
  for (const auto& [bytes, written] : cases) EXPECT_EQ(JsonString(bytes), written) << bytes;
}

TEST(Json, OneObjectIndentedAsUtilLinuxIndentsIt) {
  JsonWriter json;
  json.Object("a").Number("n", -1).Array("none").End().Array("list").Text({}, "x").Object().Bool("b", true).End();
  json.End().End().Null("z").Decimal("d", "0.99");
  EXPECT_EQ(json.Done(), R"({
   "a": {
      "n": -1,
      "none": [],
      "list": [
         "x",
         {
            "b": true
         }
      ]
   },
   "z": null,
   "d": 0.99
}
)");
  // --json alone is the table, as --csv is.
  constexpr std::string_view kTable = "{\n   \"table\": [\n      {\n         \"capacity_gb\": 1,\n";
  EXPECT_EQ(RunWith({"--json"}).out.substr(0, kTable.size()), kTable);
  EXPECT_EQ(RunWith({"--json"}).out, RunWith({"--table", "--json"}).out);
}

TEST(Figures, TheRuleTheExactFigureAndKarvosText) {
  EXPECT_EQ(RunWith({"120", "--fs=ntfs"}).out, "122885\n");
  EXPECT_EQ(RunWith({"120"}).out, "122885\n") << "NTFS when no file system is named";
  EXPECT_EQ(RunWith({"--fs", "fat32", "+010"}).out, "10276\n");
  EXPECT_EQ(RunWith({"--exact", "--", "fat32", "1"}).out, "1027\n");
  // Measured with mkfs.fat and mkntfs in Windows' default layout (the truth suite).
  EXPECT_EQ(RunWith({"--exact", "ntfs", "1", "120", "300"}).out, "1025\n122881\n307201\n");
  EXPECT_EQ(RunWith({"--exact", "fat32", "1", "8", "9", "300"}).out, "1027\n8201\n9226\n307276\n");
  EXPECT_EQ(RunWith({"--exact", "ntfs", "16383", "16384"}).out, "16776193\n16777217\n");
  // exFAT's figure is its exact one, with or without --exact (measured with mkfs.exfat).
  EXPECT_EQ(RunWith({"exfat", "1", "32", "300"}).out, "1026\n32771\n307211\n");
  EXPECT_EQ(RunWith({"--exact", "--fs=exFAT", "1"}).out, "1026\n");
  EXPECT_EQ(RunWith({"exfat", "131004"}).exitCode, 0);
  EXPECT_EQ(Lines(RunWith({"fat32", "--message", "1", "2"}).out)[1],
            "您选择的格式为FAT32,分区容量为2GB,实际容量应为 2052 MB.");
}

TEST(Figures, OnlyWhereAVolumeOfTheFileSystemCanHaveThem) {
  // The rule's FAT32 figure from 2041 GB (2098144 MiB) is past 2 TiB, where
  // FAT32 on 512-byte sectors ends; the exact one goes to 2047 GB.
  EXPECT_EQ(RunWith({"fat32", "2040"}).out, "2097116\n");
  EXPECT_EQ(RunWith({"--exact", "fat32", "2047"}).out, "2096640\n");
  EXPECT_EQ(RunWith({"ntfs", "2097151"}).out, "2147482629\n");
  EXPECT_EQ(RunWith({"--exact", "ntfs", "2097151"}).out, "2147482625\n");
}

TEST(Figures, FromAThousandGigabytesSayWhatWindowsShowsInstead) {
  const Result below = RunWith({"ntfs", "999"});
  EXPECT_EQ(below.out, "1022981\n");
  EXPECT_EQ(below.error, "");
  const Result tera = RunWith({"ntfs", "120", "1000", "1024"});
  EXPECT_EQ(tera.exitCode, 0);
  EXPECT_EQ(tera.out, "122885\n1024005\n1048581\n") << "the figures stay";
  EXPECT_EQ(tera.error,
            "karvo-size: from 1000 GB Windows shows a size in TB, never as N GB: 1000 GB as 0.97 TB, 1024 GB as "
            "1.00 TB\n");
  EXPECT_NE(RunWith({"--exact", "fat32", "2000"}).error.find("2000 GB as 1.95 TB"), std::string::npos);
}

// --inspect: the sources, built in memory.
class Inspect : public ::testing::Test {
 protected:
  void TearDown() override { g_sources.clear(); }
  static void Add(const std::string& path, const DiskImage& image, std::optional<std::int64_t> deviceSector = {},
                  bool stream = false) {
    g_sources[path] = {std::vector<std::uint8_t>(image.bytes().begin(), image.bytes().end()), deviceSector, stream,
                       std::nullopt, ""};
  }
  // A disk of 512-byte sectors: an active NTFS partition at 1 MiB of 4 MiB,
  // then an extended one whose last logical drive fills it, as Windows lays
  // them out; the logical ones of sizes not in whole MiB.
  static DiskImage WindowsMbr() {
    DiskImage disk(32768);
    disk.Mbr(0, 0x07, 2048, 8192, true).Volume(2048, NtfsSector(8191));
    disk.Mbr(1, 0x0F, 10240, 22528);
    disk.Ebr(10240, 0x07, 63, 5000, 5063, 17465).Volume(10240 + 63, NtfsSector(4999));
    disk.Ebr(10240 + 5063, 0x83, 63, 17465 - 63);
    return disk;
  }
};

TEST_F(Inspect, AWindowsMbrDiskListsTheFourFirstThenTheLogicalOnes) {
  DiskImage disk = WindowsMbr();
  disk.Mbr(2, 0x0C, 32000, 700);
  Add("disk", disk);
  const Result result = RunWith({"--inspect", "disk"});
  EXPECT_EQ(result.exitCode, 0) << result.error;
  EXPECT_EQ(Lines(result.out), (std::vector<std::string>{
                                   "partition table: MBR, 512-byte sectors",
                                   "partition 1: start 1 MiB, size 4 MiB, type 0x07 NTFS or exFAT, active",
                                   "  file system: NTFS",
                                   "  cluster size: 4096 bytes",
                                   "  capacity: 4190208 bytes",
                                   "  Windows shows: 3.99 MB",
                                   "partition 2: start 5 MiB, size 11 MiB, type 0x0f extended",
                                   "partition 3: start 15.62 MiB, size 0.34 MiB, type 0x0c FAT32 (LBA)",
                                   "  overlaps partition 2",
                                   "  no boot sector signature: not FAT32, NTFS or exFAT",
                                   "partition 5: start 5.03 MiB, size 2.44 MiB, type 0x07 NTFS or exFAT",
                                   "  file system: NTFS",
                                   "  cluster size: 4096 bytes",
                                   "  capacity: 2555904 bytes",
                                   "  Windows shows: 2.43 MB",
                                   "partition 6: start 7.50 MiB, size 8.49 MiB, type 0x83 Linux",
                                   "  overlaps partition 3",
                                   "  no boot sector signature: not FAT32, NTFS or exFAT",
                               }));
}

TEST_F(Inspect, OnePartitionOfAWholeDiskAgainstACapacity) {
  Add("disk", WindowsMbr());
  const Result one = RunWith({"--inspect", "disk", "--partno", "5", "1"});
  EXPECT_EQ(one.exitCode, kExitNotAsAsked);
  EXPECT_EQ(Lines(one.out)[0], "partition 5: start 5.03 MiB, size 2.44 MiB, type 0x07 NTFS or exFAT");
  EXPECT_EQ(Lines(one.out)[1], "file system: NTFS");
  EXPECT_EQ(Lines(one.out).back(), "Windows shows 1 GB: no, it shows 2.43 MB");
  EXPECT_EQ(RunWith({"--inspect=disk", "--partno=1"}).exitCode, 0);
  ExpectRefused({"--inspect", "disk", "1"}, {"whole disk", "--partno N"});
  ExpectRefused({"--inspect", "disk", "--partno", "4"}, {"disk has no partition 4"});
  ExpectRefused({"--inspect", "disk", "--partno", "7"}, {"disk has no partition 7"});
  ExpectRefused({"--inspect", "disk", "--partno", "2"}, {"partition 2: an extended partition"});
  ExpectRefused({"--inspect", "disk", "--partno", "6"}, {"partition 6: no boot sector signature"});
  DiskImage volume(8192);
  volume.Volume(0, NtfsSector(8191));
  Add("volume", volume);
  ExpectRefused({"--inspect", "volume", "--partno", "1"}, {"--partno goes with a whole disk", "volume is one volume"});
  ExpectRefused({"--inspect", "volume", "--sector-size", "512"}, {"--sector-size goes with a whole disk"});
  ExpectRefused({"--inspect", "volume", "2097152"}, {"too large", "1 to 2097151 for NTFS"});
}

TEST_F(Inspect, TheSectorSizeIsTheDevicesOrTheOneGiven) {
  // A 4Kn disk: partitions at 1 MiB (sector 256), their boot sectors of 4096-byte sectors.
  DiskImage mbr(4096, kLargeSectorBytes);
  mbr.Mbr(0, 0x07, 256, 1024).Volume(256, NtfsSector(1023, 1, 4096));
  Add("k4-mbr", mbr);
  EXPECT_EQ(Lines(RunWith({"--inspect", "k4-mbr"}).out)[0], "partition table: MBR, 4096-byte sectors");
  // Told otherwise, the same disk is read on 512-byte sectors.
  EXPECT_EQ(Lines(RunWith({"--inspect", "k4-mbr", "--sector-size", "512"}).out)[1],
            "partition 1: start 0.12 MiB, size 0.50 MiB, type 0x07 NTFS or exFAT");
  // A device says its own; the table does not overrule it.
  Add("device", mbr, kSectorBytes);
  EXPECT_EQ(Lines(RunWith({"--inspect", "device"}).out)[0], "partition table: MBR, 512-byte sectors");
}

TEST_F(Inspect, AListingFailsForAFat32OrNtfsVolumeThatCannotBeRead) {
  // A device that reports 20,000 sectors and reads 16,384. Partition 1's
  // volume claims a sector more than the partition; 2 is FAT32 by type, out
  // of reach; 3 is Linux, out of reach too, and 4 Linux unformatted: both
  // listed plainly.
  DiskImage disk(16384);
  disk.Mbr(0, 0x07, 2048, 2048).Volume(2048, NtfsSector(2049));
  disk.Mbr(1, 0x0C, 19000, 100);
  disk.Mbr(2, 0x83, 19100, 100);
  disk.Mbr(3, 0x83, 4096, 2048);
  Add("disk", disk);
  g_sources["disk"].claimedBytes = 20000 * 512;
  const Result result = RunWith({"--inspect", "disk"});
  EXPECT_EQ(result.exitCode, kExitFailed);
  const auto lines = Lines(result.out);
  EXPECT_EQ(lines[2], "  larger than its partition: its boot sector describes more than the partition holds");
  EXPECT_EQ(lines[4], "  cannot be read");
  EXPECT_EQ(lines[6], "  cannot be read");
  EXPECT_EQ(lines[8], "  no boot sector signature: not FAT32, NTFS or exFAT");
  EXPECT_EQ(result.error, "karvo-size: disk: a FAT32, NTFS or exFAT volume that cannot be read, in partition 1, 2\n");
  // A volume that just fits its partition, and a Linux one out of reach: all is well.
  DiskImage fits(16384);
  fits.Mbr(0, 0x07, 2048, 2048).Volume(2048, NtfsSector(2048));
  fits.Mbr(2, 0x83, 19100, 100);
  Add("fits", fits);
  g_sources["fits"].claimedBytes = 20000 * 512;
  const Result whole = RunWith({"--inspect", "fits"});
  EXPECT_EQ(whole.exitCode, 0) << whole.error;
  EXPECT_EQ(whole.error, "");
}

// Damaged and unusual disks listed as fdisk lists them: what was read, each
// fault named under its partition and on standard error, the status after
// the listing; what is only unusual named on standard error alone.
TEST_F(Inspect, ADamagedDiskIsListedWithEachFaultNamed) {
  struct Case {
    const char* name;
    DiskImage disk;
    int status;
    std::vector<std::string> lines;  // among the listing's
    std::string error;               // standard error, whole
  };
  // An NTFS primary, and an extended partition whose second record lost its signature.
  DiskImage broken(32769);
  broken.Mbr(0, 0x07, 2048, 8192).Volume(2048, NtfsSector(8191)).Mbr(1, 0x0F, 10240, 22528);
  broken.Ebr(10240, 0x07, 63, 5000, 5063, 17465).Volume(10240 + 63, NtfsSector(4999));
  DiskImage twoExtended = broken;
  broken.Ebr(10240 + 5063, 0x83, 63, 17465 - 63);
  twoExtended.Ebr(10240 + 5063, 0x83, 63, 17465 - 63 + 1);
  layout::Set(broken.At(10240 + 5063, 512), layout::boot_record::kSignature, 0);
  twoExtended.Mbr(2, 0x05, 32000, 700);
  DiskImage past(16384);
  past.Mbr(0, 0x83, 2048, 2048).Mbr(1, 0x83, 4096, 12289);
  DiskImage outside(16384);
  outside.Gpt({{1, 2047}});
  DiskImage empty(8192);
  layout::Set(empty.At(0, 512), layout::boot_record::kSignature, layout::boot_record::kSignatureValue);
  DiskImage emptyGpt(8192);
  emptyGpt.Gpt({});
  DiskImage backup(16384);
  backup.Gpt({{2048, 4095}}).Mbr(1, 0x83, 4096, 100);
  backup.At(16383, 512)[layout::gpt::kFirstUsableLba.offset] ^= 1;
  const Case cases[] = {
      {"a broken chain",
       broken,
       kExitFailed,
       {"partition 1: start 1 MiB, size 4 MiB, type 0x07 NTFS or exFAT",
        "partition 5: start 5.03 MiB, size 2.44 MiB, type 0x07 NTFS or exFAT"},
       "karvo-size: disk: a damaged extended partition: its chain of logical partitions breaks after partition 5\n"},
      {"two extended partitions, a logical one past the first",
       twoExtended,
       kExitFailed,
       {"partition 3: start 15.62 MiB, size 0.34 MiB, type 0x05 extended",
        "  a second extended partition: ignored, as fdisk and Windows ignore it",
        "  is not entirely inside extended partition 2"},
       "karvo-size: disk: partition 6 is not entirely inside extended partition 2\n"},
      {"a partition past the disk",
       past,
       kExitFailed,
       {"  runs past the disk's end"},
       "karvo-size: disk: partition 2 runs past the disk's end\n"},
      {"a GPT partition over the GPT",
       outside,
       kExitFailed,
       {"  lies outside the sectors the GPT leaves for partitions (34 to 16350)"},
       "karvo-size: disk: partition 1 lies outside the sectors the GPT leaves for partitions (34 to 16350)\n"},
      {"an MBR without partitions", empty, 0, {"partition table: MBR, 512-byte sectors", "no partitions"}, ""},
      {"a GPT without partitions", emptyGpt, 0, {"partition table: GPT, 512-byte sectors", "no partitions"}, ""},
      {"a damaged backup GPT behind a hybrid MBR",
       backup,
       0,
       {"partition 1: start 1 MiB, size 1 MiB, type Microsoft basic data"},
       "karvo-size: disk: the backup GPT cannot be used (a damaged GPT header: its CRC does not match); the primary "
       "is whole and is listed\nkarvo-size: disk: a hybrid MBR: beside the GPT's protective entry it names partitions "
       "of its own, which only BIOS systems use; the GPT is listed\n"},
  };
  for (const Case& c : cases) {
    Add("disk", c.disk);
    const Result result = RunWith({"--inspect", "disk"});
    EXPECT_EQ(result.exitCode, c.status) << c.name;
    EXPECT_EQ(result.error, c.error) << c.name;
    const auto lines = Lines(result.out);
    for (const std::string& line : c.lines) {
      EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << c.name << " lacks " << line << ":\n"
                                                                          << result.out;
    }
    // As JSON: the same status and standard error, each of its lines there too.
    const Result json = RunWith({"--inspect", "disk", "--json"});
    EXPECT_EQ(std::tie(json.exitCode, json.error), std::tie(result.exitCode, result.error)) << c.name;
    for (const std::string& line : Lines(result.error)) {
      const std::string said = line.substr(line.find(": ", line.find(": ") + 2) + 2);
      EXPECT_NE(json.out.find(JsonString(said)), std::string::npos) << c.name << " lacks " << said;
    }
  }
  // Every partition read is reached; one out of place is refused by name.
  Add("broken", broken);
  const Result first = RunWith({"--inspect", "broken", "--partno", "1"});
  EXPECT_EQ(first.exitCode, 0) << first.error;
  EXPECT_EQ(first.error, "");
  EXPECT_EQ(RunWith({"--inspect", "broken", "--partno", "5"}).exitCode, 0);
  Add("past", past);
  ExpectRefused({"--inspect", "past", "--partno", "2"}, {"past, partition 2 runs past the disk's end"});
  // A volume of another kind is no empty MBR, though its entries' bytes are blank.
  Sector fat16 = Fat32Sector();
  layout::Set(fat16, layout::fat::kFatSectors16, 200);
  layout::SetText(fat16, layout::fat::kFat32TypeText, "        ");  // boot code's place on FAT16
  DiskImage fat16Volume(64);
  fat16Volume.Volume(0, fat16);
  Add("fat16", fat16Volume);
  ExpectRefused({"--inspect", "fat16"}, {"fat16: a FAT16 volume: karvo-size reads FAT32, NTFS and exFAT"});
}

TEST_F(Inspect, ADeviceKeepsItsSectorSizeAndANameIsQuotedAsAShellTakesIt) {
  DiskImage disk(4096, kLargeSectorBytes);
  disk.Gpt({{256, 1279}});
  Add("k4", disk, kLargeSectorBytes);
  EXPECT_EQ(RunWith({"--inspect", "k4", "--sector-size", "4096"}).exitCode, 0);
  ExpectRefused({"--inspect", "k4", "--sector-size", "512"},
                {"--sector-size 512 contradicts k4, whose sectors are 4096 bytes"});
  const std::pair<std::string, std::string> names[] = {
      {"/dev/sdb1", "/dev/sdb1"},
      {"my disk.img", "'my disk.img'"},
      {"it's", "'it'\\''s'"},
      {"a\nb", "'a'$'\\n''b'"},
      {"\x1b[31mred", "$'\\033''[31mred'"},
      {"\xc2\x9b", "$'\\302'$'\\233'"},  // C1's CSI, which terminals act on
      {"d\xc3\xa9j\xc3\xa0", "d\xc3\xa9j\xc3\xa0"},
      {"\xff", "$'\\377'"},
      {"a\x7f", "'a'$'\\177'"},  // DEL
  };
  for (const auto& [name, quoted] : names) {
    EXPECT_EQ(RunWith({"--inspect", name}).error, "karvo-size: " + quoted + ": No such file or directory\n");
  }
}

// --plan: the disk as it was understood first, then each partition; what a
// disk given by path holds now; the rest's whole GB. The scripts are proved
// with the real sfdisk in the process suite.
TEST_F(Inspect, APlanNamesTheDiskAsUnderstoodAndEachPartition) {
  const Result plan = RunWith({"--plan", "1TB", "ntfs", "120", "300", "exfat", "rest"});
  EXPECT_EQ(plan.exitCode, 0) << plan.error;
  EXPECT_EQ(Lines(plan.out),
            (std::vector<std::string>{
                "1 TB drive: 1,953,525,168 sectors of 512 bytes (1,000,204,886,016 bytes), Windows shows 931 GB",
                "partition table: GPT, 512-byte sectors",
                "   #  type                   start (MiB)  size (MiB)  file system  Windows shows",
                "   1  Microsoft basic data             1      122881  NTFS         120 GB",
                "   2  Microsoft basic data        122882      307201  NTFS         300 GB",
                "   3  Microsoft basic data        430083      523786  exFAT        511 GB, the rest",
                "unallocated: 0.69 MiB",
                "partition 3 takes the rest: Windows shows 511 GB",
            }));
  DiskImage disk(4096);
  disk.Mbr(0, 0x07, 2048, 2048);
  Add("disk.img", disk);
  g_sources["disk.img"].claimedBytes = (std::int64_t{8} << 30) + 2048 * 512;  // 8 GiB and a MiB: 8190 MiB for the rest
  const auto lines = Lines(RunWith({"--plan", "disk.img", "ntfs", "rest"}).out);
  EXPECT_EQ(lines.at(1),
            "it holds an MBR partition table now, with 1 partition: the plan replaces it "
            "(karvo-size --inspect disk.img lists them)");
  EXPECT_EQ(lines.back(),
            "partition 1 takes the rest: Windows shows 7.99 GB, not a whole number of GB: 7 GB is the most "
            "that fits (give ntfs 7)");
  Add("k4", disk, kLargeSectorBytes);
  ExpectRefused({"--plan", "k4", "--sector-size", "512", "ntfs", "1"},
                {"contradicts k4, whose sectors are 4096 bytes"});
  // An image's own table gives its sectors; a volume is named as one.
  DiskImage gpt4k(4096, kLargeSectorBytes);
  gpt4k.Gpt({{256, 1279}});
  Add("gpt4k", gpt4k);
  DiskImage volume(4096);
  volume.Volume(0, NtfsSector(4095));
  Add("ntfs.img", volume);
  for (const char* path : {"gpt4k", "ntfs.img"}) g_sources[path].claimedBytes = std::int64_t{8} << 30;
  EXPECT_EQ(Lines(RunWith({"--plan", "gpt4k", "ntfs", "1"}).out).at(0),
            "gpt4k: 2,097,152 sectors of 4096 bytes (8,589,934,592 bytes), Windows shows 8.00 GB");
  EXPECT_EQ(Lines(RunWith({"--plan", "ntfs.img", "ntfs", "1"}).out).at(1),
            "it holds an NTFS volume now, not a partition table: the plan replaces it (karvo-size --inspect "
            "ntfs.img reads it)");
  g_sources["ntfs.img"].partitionOf = "/dev/sdb";
  ExpectRefused({"--plan", "ntfs.img", "ntfs", "1"}, {"ntfs.img: a partition of /dev/sdb, not a whole disk"});
  // The units in any case, a blank before them; a binary fraction exactly.
  for (const auto& [word, first] : {std::pair{"1 tb", "1 TB drive: 1,953,525,168 sectors"},
                                    {"16TB", "16 TB drive: 31,251,759,104 sectors"},
                                    {"1.5TiB", "1.5TiB: 3,221,225,472 sectors"}}) {
    EXPECT_TRUE(RunWith({"--plan", word, "ntfs", "1"}).out.starts_with(first)) << word;
  }
  // From 1000 GB Windows shows TB: no whole GB to advise.
  EXPECT_EQ(Lines(RunWith({"--plan", "3TB", "ntfs", "rest"}).out).back(),
            "partition 1 takes the rest: Windows shows 2.72 TB");
  EXPECT_EQ(Lines(RunWith({"--plan", "1TB", "--csv", "ntfs", "120"}).out),
            (std::vector<std::string>{
                "number,type,start_sector,sectors,start_mib,size_mib,file_system,capacity_gb,bytes,windows_shows",
                "1,Microsoft basic data,2048,251660288,1,122881,NTFS,120,128850063360,120 GB"}));
}

TEST_F(Inspect, AFat32VolumeWithFewerClustersThanTheSpecificationAsksIsSaidToHaveThem) {
  // One FAT of 513 sectors; 65,524 clusters of 512 bytes, then 65,525.
  for (const std::uint32_t clusters : {65524U, 65525U}) {
    const std::uint32_t sectors = 32 + 2 * 513 + clusters;
    DiskImage volume(sectors);
    volume.Volume(0, Fat32Sector(sectors, 513, 1));
    Add("fat", volume);
    for (const Result& result : {RunWith({"--inspect", "fat"}), RunWith({"--inspect", "fat", "--json"})}) {
      EXPECT_EQ(result.exitCode, 0) << result.error;
      EXPECT_EQ(result.out.find("fewer than the 65525 the FAT specification asks") != std::string::npos,
                clusters == 65524)
          << result.out;
    }
  }
  // A FAT32 volume is asked up to 16383 GB: on 4096-byte sectors it ends at 16 TiB.
  const Result largest = RunWith({"--inspect", "fat", "16383"});
  EXPECT_EQ(largest.exitCode, kExitNotAsAsked) << largest.error;
  ExpectRefused({"--inspect", "fat", "16384"}, {"\"16384\" is too large", "1 to 16383 for FAT32", "16 TiB"});
}

TEST_F(Inspect, ABitLockerVolumeIsNamedAndListed) {
  // A GPT disk as an encrypted laptop's: BitLocker's data partition beside an NTFS one.
  DiskImage disk(32768);
  disk.Gpt({{2048, 10239}, {10240, 18431}}).Volume(10240, NtfsSector(8191));
  disk.Volume(2048, fixtures::BitLockerSector());
  Add("laptop", disk);
  const Result listed = RunWith({"--inspect", "laptop"});
  EXPECT_EQ(listed.exitCode, 0) << listed.error;
  EXPECT_EQ(Lines(listed.out)[2],
            "  a BitLocker volume: unlock it and inspect it by its drive letter on Windows, or on "
            "Linux the device that cryptsetup open --type bitlk makes");
  EXPECT_EQ(Lines(listed.out)[4], "  file system: NTFS");
  ExpectRefused({"--inspect", "laptop", "--partno", "1"}, {"laptop, partition 1: a BitLocker volume: unlock it"});
  ExpectRefused({"--inspect", "laptop", "--partno", "1", "1"}, {"a BitLocker volume"});
}

TEST_F(Inspect, AVolumeOfExactlyTheCapacityReachesItAndShowsIt) {
  // 1 GiB exactly: 262,144 NTFS clusters of 4 KiB, or 32,768 exFAT ones of
  // 32 KiB (a FAT of 320 sectors holds them); one NTFS cluster fewer is 4096 bytes short.
  Sector exfat = fixtures::ExfatSector(2101248, 32768);
  layout::Set(exfat, layout::exfat::kFatLength, 320);
  struct Case {
    std::vector<std::uint8_t> start;
    std::int64_t sectors;
    int status;
    std::vector<std::string> lines;  // the first, then the last two
  };
  const auto bytes = [](const Sector& sector) { return std::vector<std::uint8_t>(sector.begin(), sector.end()); };
  const Case cases[] = {
      {bytes(NtfsSector(2097152)), 2097152, 0, {"file system: NTFS", "reaches 1 GB: yes", "Windows shows 1 GB: yes"}},
      {bytes(NtfsSector(2097151)),
       2097151,
       kExitNotAsAsked,
       {"file system: NTFS", "reaches 1 GB: no, 4096 bytes short", "Windows shows 1 GB: no, it shows 0.99 GB"}},
      {fixtures::ExfatBootRegions(exfat),
       2101248,
       0,
       {"file system: exFAT", "reaches 1 GB: yes", "Windows shows 1 GB: yes"}},
  };
  for (const Case& c : cases) {
    DiskImage volume(24);
    volume.Volume(0, c.start);
    Add("volume", volume);
    g_sources["volume"].claimedBytes = c.sectors * 512;
    const Result result = RunWith({"--inspect", "volume", "1"});
    EXPECT_EQ(result.exitCode, c.status) << c.sectors << result.error;
    const auto lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 6U) << result.out;
    EXPECT_EQ((std::vector<std::string>{lines[0], lines[4], lines[5]}), c.lines);
  }
  // An exFAT volume holds at most 2^32 - 11 clusters of 32 MiB.
  EXPECT_EQ(RunWith({"--inspect", "volume", "134217727"}).exitCode, kExitNotAsAsked);
  ExpectRefused({"--inspect", "volume", "134217728"}, {"1 to 134217727 for exFAT", "2^32 - 11 clusters of 32 MiB"});
  ExpectRefused({"--inspect", "missing"}, {"missing: No such file"});
}

}  // namespace
}  // namespace karvo::cli
