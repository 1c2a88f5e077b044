// The disk planner: where each partition lies on disks of 512 and 4096-byte
// sectors, GPT and MBR, Windows' own partitions on and off, the rest, and
// each refusal at its edge.
#include "disk/plan.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace karvo {
namespace {

constexpr std::int64_t kTerabyteDrive = std::int64_t{1953525168} * kSectorBytes;  // "1 TB", IDEMA's

TEST(Plan, DrivesSoldInDecimalUnitsHaveIdemasSectors) {
  EXPECT_EQ(IdemaSectors(50, kSectorBytes), 97696368U);
  EXPECT_EQ(IdemaSectors(1000, kSectorBytes), 1953525168U);
  EXPECT_EQ(IdemaSectors(1000, kLargeSectorBytes), 244190646U);
  EXPECT_EQ(IdemaSectors(49, kSectorBytes), std::nullopt);
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
  struct Case {
    const char* name;
    PlanRequest request;
    std::string problem;  // empty: a plan
  };
  const Case cases[] = {
      {"just fits", Request(fits, {one}), ""},
      {"a sector short", Request(fits - kSectorBytes, {one}), "the plan does not fit: it needs 1 MiB (512 bytes) more"},
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
  }
}

}  // namespace
}  // namespace karvo
