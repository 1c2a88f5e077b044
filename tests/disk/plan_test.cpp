// The disk planner: where each partition lies on disks of 512 and 4096-byte
// sectors, GPT and MBR, Windows' own partitions on and off, the rest, and
// each refusal at its edge.
#include "disk/plan.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace karvo {
namespace {

constexpr std::int64_t kTerabyteDrive = std::int64_t{1953525168} * kSectorBytes;  // "1 TB", IDEMA's

// IDEMA LBA1-03's formula to 8,000 GB, SFF-8447's multiples of 2^21 (2^18)
// sectors beyond, as real 10, 12 and 16 TB drives have them.
TEST(Plan, DrivesSoldInDecimalUnitsHaveTheirStandardSectors) {
  const std::tuple<std::int64_t, std::int64_t, std::optional<std::uint64_t>> drives[] = {
      {49, kSectorBytes, std::nullopt},         {50, kSectorBytes, 97696368},
      {1000, kSectorBytes, 1953525168},         {1000, kLargeSectorBytes, 244190646},
      {8000, kSectorBytes, 15628053168},        {8001, kSectorBytes, 15627976704},
      {10000, kSectorBytes, 19532873728},       {12000, kSectorBytes, 23437770752},
      {16000, kSectorBytes, 31251759104},       {16000, kLargeSectorBytes, 3906469888},
      {9223372036, kSectorBytes, std::nullopt},  // its sectors' bytes past 2^63
  };
  for (const auto& [gigabytes, sectorBytes, sectors] : drives) {
    EXPECT_EQ(DriveSectors(gigabytes, sectorBytes), sectors) << gigabytes << " GB, " << sectorBytes;
  }
}

struct Placed {
  int number;
  PlannedRole role;
  std::uint64_t first, sectors;
  bool operator==(const Placed&) const = default;
};
void PrintTo(const Placed& p, std::ostream* os) {
  *os << "{" << p.number << ", role " << static_cast<int>(p.role) << ", " << p.first << ", " << p.sectors << "}";
}

PlanRequest Request(std::int64_t bytes, std::vector<PlanAsk> asks, PartitionScheme scheme = PartitionScheme::Gpt,
                    bool windows = false, std::int64_t sectorBytes = kSectorBytes) {
  PlanRequest request;
  request.diskBytes = bytes;
  request.sectorBytes = sectorBytes;
  request.scheme = scheme;
  request.windows = windows;
  request.asks = std::move(asks);
  return request;
}

TEST(Plan, PlacesEachPartitionOnTheNextMiBAsSfdiskAndDiskpartDo) {
  constexpr auto kData = PlannedRole::Data;
  const PlanAsk ntfs120{FileSystem::Ntfs, 120};  // 122881 MiB
  const PlanAsk exfatRest{FileSystem::Exfat, std::nullopt};
  const PlanAsk fat32One{FileSystem::Fat32, 1};  // 1027 MiB
  struct Case {
    const char* name;
    PlanRequest request;
    std::vector<Placed> placed;
    std::uint64_t unallocated;
  };
  // 1 TB: the GPT's backup takes its last 33 sectors; the rest in whole MiB.
  const std::uint64_t restOf1Tb = (1953525168 - 33 - 2048 - 122881 * 2048) / 2048 * 2048;
  const Case cases[] = {
      {"GPT, the rest",
       Request(kTerabyteDrive, {ntfs120, exfatRest}),
       {{1, kData, 2048, 122881 * 2048}, {2, kData, 2048 + 122881 * 2048, restOf1Tb}},
       1953525168 - 33 - 2048 - 122881 * 2048 - restOf1Tb},
      {"GPT, Windows' own, 4096-byte sectors",
       Request(kTerabyteDrive, {ntfs120, fat32One}, PartitionScheme::Gpt, true, kLargeSectorBytes),
       {{1, PlannedRole::EfiSystem, 256, 260 * 256},
        {2, PlannedRole::MsReserved, 261 * 256, 16 * 256},
        {3, kData, 277 * 256, 122881 * 256},
        {4, PlannedRole::Recovery, (277 + 122881) * 256, 1024 * 256},
        {5, kData, (277 + 122881 + 1024) * 256, 1027 * 256}},
       244190646 - 5 - (277 + 122881 + 1024 + 1027) * 256},
      {"MBR, Windows' own, logical partitions behind their boot records",
       Request(std::int64_t{8} << 30, {fat32One, fat32One, fat32One}, PartitionScheme::Mbr, true),
       {{1, PlannedRole::MbrSystem, 2048, 100 * 2048},
        {2, kData, 101 * 2048, 1027 * 2048},
        {3, PlannedRole::Recovery, 1128 * 2048, 1024 * 2048},
        {4, PlannedRole::Extended, 2152 * 2048, (1 + 1027 + 1 + 1027) * 2048},
        {5, kData, 2153 * 2048, 1027 * 2048},
        {6, kData, (2153 + 1027 + 1) * 2048, 1027 * 2048}},
       (8192 - 2152 - 2056) * std::uint64_t{2048}},
      {"MBR, four primary partitions and no more",
       Request(std::int64_t{8} << 30, {fat32One, fat32One, fat32One, fat32One}, PartitionScheme::Mbr),
       {{1, kData, 2048, 1027 * 2048},
        {2, kData, 1028 * 2048, 1027 * 2048},
        {3, kData, 2055 * 2048, 1027 * 2048},
        {4, kData, 3082 * 2048, 1027 * 2048}},
       (8192 - 1 - 4 * 1027) * std::uint64_t{2048}},
  };
  for (const Case& c : cases) {
    const PlanReading reading = PlanDisk(c.request);
    ASSERT_TRUE(reading.plan) << c.name << ": " << reading.problem;
    std::vector<Placed> placed;
    for (const PlannedPartition& p : reading.plan->partitions)
      placed.push_back({p.number, p.role, p.firstSector, p.sectors});
    EXPECT_EQ(placed, c.placed) << c.name;
    EXPECT_EQ(reading.plan->unallocatedSectors, c.unallocated) << c.name;
  }
}

// Each refusal, and the plan that fits at its edge.
TEST(Plan, RefusesWhatCannotBeLaidOut) {
  const PlanAsk one{FileSystem::Ntfs, 1};  // 1025 MiB
  const PlanAsk rest{FileSystem::Ntfs, std::nullopt};
  // 1 MiB in front, 1025 MiB, and GPT's 33 sectors behind.
  const std::int64_t fits = (1026 * 2048 + 33) * kSectorBytes;
  const std::vector<PlanAsk> many(128, one);
  // A GPT disk whose rest, behind 1 MiB, is `mebibytes`.
  const auto restOf = [](std::int64_t mebibytes) { return ((mebibytes + 1) * 2048 + 33) * kSectorBytes; };
  const PlanAsk fat32Rest{FileSystem::Fat32, std::nullopt};
  struct Case {
    const char* name;
    PlanRequest request;
    std::string problem;      // empty: a plan
    std::int32_t restGb = 0;  // a plan's rest: the most whole GB that fits it
  };
  const Case cases[] = {
      {"just fits", Request(fits, {one}), ""},
      {"a sector short", Request(fits - kSectorBytes, {one}),
       "the plan does not fit: it needs 0.01 MiB (512 bytes) more"},
      {"the rest holds 7 GB exactly", Request(restOf(7169), {rest}), "", 7},
      {"the rest a MiB short of 7 GB", Request(restOf(7168), {rest}), "", 6},
      {"FAT32 fills the rest, 2^32 sectors and less", Request(restOf(2097151), {fat32Rest}), "", 2047},
      {"the rest past FAT32's 2^32 sectors", Request(restOf(2097152), {fat32Rest}),
       "the rest of the disk (2097152 MiB) is more than FAT32 holds on 512-byte sectors, at most 2047 GB"},
      {"59 MBR partitions", Request(std::int64_t{1} << 40, std::vector<PlanAsk>(59, one), PartitionScheme::Mbr), ""},
      {"60 MBR partitions, the extended one the 61st",
       Request(std::int64_t{1} << 40, std::vector<PlanAsk>(60, one), PartitionScheme::Mbr),
       "60 partitions, more than an MBR's 59"},
      {"nothing asked", Request(fits, {}), "no partitions asked for"},
      {"the rest first", Request(fits, {rest, one}), "\"rest\" goes once, last"},
      {"the rest twice", Request(fits, {rest, rest}), "\"rest\" goes once, last"},
      {"no room for the rest", Request(fits, {one, rest}), "no NTFS volume fits the rest of the disk (0 MiB)"},
      {"FAT32 past 2 TiB", Request(fits, {{FileSystem::Fat32, 2048}}), "FAT32 cannot hold 2048 GB on 512-byte sectors"},
      {"FAT32 at 2 TiB, on 4096-byte sectors",
       Request(fits, {{FileSystem::Fat32, 2048}}, PartitionScheme::Gpt, false, kLargeSectorBytes),
       "the plan does not fit"},
      {"MBR of 2^32 sectors", Request(std::int64_t{1} << 41, {one}, PartitionScheme::Mbr), ""},
      {"MBR past 2^32 sectors", Request((std::int64_t{1} << 41) + kSectorBytes, {one}, PartitionScheme::Mbr),
       "a disk of more than 2^32 sectors, which an MBR cannot reach: plan it as GPT"},
      {"128 GPT partitions", Request(std::int64_t{1} << 40, many), ""},
      {"129 GPT partitions",
       Request(std::int64_t{1} << 40,
               [&] {
                 auto more = many;
                 more.push_back(one);
                 return more;
               }()),
       "129 partitions, more than a GPT's 128"},
      {"too small for Windows", Request(100 * kBytesPerMiB, {one}, PartitionScheme::Gpt, true),
       "the disk is too small for Windows' own partitions"},
  };
  for (const Case& c : cases) {
    const PlanReading reading = PlanDisk(c.request);
    EXPECT_EQ(reading.plan.has_value(), c.problem.empty()) << c.name << ": " << reading.problem;
    EXPECT_TRUE(reading.problem.starts_with(c.problem)) << c.name << ": " << reading.problem;
    if (reading.plan && reading.plan->partitions.back().rest) {
      EXPECT_EQ(reading.plan->partitions.back().largestWholeGb, c.restGb) << c.name;
    }
  }
}

}  // namespace
}  // namespace karvo
