#include "disk/plan.h"

#include <algorithm>
#include <limits>

#include "disk/explorer_size.h"
#include "disk/on_disk.h"

namespace karvo {
namespace {

constexpr std::uint64_t kMostMbrSectors = std::uint64_t{1} << 32;
constexpr std::uint64_t kGptEntriesBytes = std::uint64_t{128} * 128;

std::string Text(std::int64_t value) { return std::string(Decimal(value).view()); }

// How much more the plan needs: MiB to two decimals, rounded up, and the
// same bytes as Windows shows them.
std::string MissingText(std::uint64_t sectors, std::int64_t sectorBytes) {
  const auto bytes = static_cast<std::int64_t>(sectors) * sectorBytes;
  std::int64_t whole = bytes / kBytesPerMiB;
  std::int64_t hundredths = (bytes % kBytesPerMiB * 100 + kBytesPerMiB - 1) / kBytesPerMiB;
  if (hundredths == 100) ++whole, hundredths = 0;
  const std::string decimals = hundredths == 0 ? "" : (hundredths < 10 ? ".0" : ".") + Text(hundredths);
  return Text(whole) + decimals + " MiB (" + std::string(ExplorerSizeText(bytes).view()) + ")";
}

PlanReading Refuse(std::string why) { return {std::nullopt, std::move(why)}; }

// The largest whole GB whose exact figure fits in `mebibytes`; 0 for none.
// A larger capacity never needs fewer MiB, so it is found by bisection.
std::int32_t LargestWholeGb(FileSystem kind, std::int64_t mebibytes, std::int64_t sectorBytes) {
  const auto fits = [&](std::int64_t gigabytes) {
    const auto exact = ExactMegabytes(kind, static_cast<std::int32_t>(gigabytes), sectorBytes);
    return exact && *exact <= mebibytes;
  };
  std::int64_t fitting = 0;
  std::int64_t beyond =
      std::min<std::int64_t>(mebibytes / 1024, LargestCapacity(kind, CapacityUse::Exact, sectorBytes)) + 1;
  while (beyond - fitting > 1) {
    const std::int64_t middle = fitting + (beyond - fitting) / 2;
    (fits(middle) ? fitting : beyond) = middle;
  }
  return static_cast<std::int32_t>(fitting);
}

// The type each partition is written with: Windows' own types, and a data
// partition's by its file system on an MBR.
const PartitionKind* TypeOf(const PlannedPartition& partition, PartitionScheme scheme) {
  namespace gpt = layout::gpt;
  namespace mbr = layout::mbr;
  const bool onGpt = scheme == PartitionScheme::Gpt;
  switch (partition.role) {
    case PlannedRole::EfiSystem:
      return FindGptKind(gpt::kEfiSystemType);
    case PlannedRole::MsReserved:
      return FindGptKind(gpt::kMsReservedType);
    case PlannedRole::Recovery:
      return onGpt ? FindGptKind(gpt::kRecoveryType) : FindMbrKind(mbr::kRecoveryType);
    case PlannedRole::Extended:
      return FindMbrKind(mbr::kExtendedLbaType);
    case PlannedRole::MbrSystem:
    case PlannedRole::Data:
      break;
  }
  if (onGpt) return FindGptKind(gpt::kBasicDataType);
  return FindMbrKind(partition.kind == FileSystem::Fat32 ? mbr::kFat32LbaType : mbr::kNtfsOrExfatType);
}

}  // namespace

std::optional<std::uint64_t> DriveSectors(std::int64_t gigabytes, std::int64_t sectorBytes) {
  constexpr std::int64_t kBytesPerGB = 1000000000;
  if (gigabytes < 50 || gigabytes > std::numeric_limits<std::int64_t>::max() / kBytesPerGB) return std::nullopt;
  const bool large = sectorBytes == kLargeSectorBytes;
  if (gigabytes <= 8000) {
    const auto steps = static_cast<std::uint64_t>(gigabytes - 50);
    return large ? 12212046 + 244188 * steps : 97696368 + 1953504 * steps;
  }
  const std::int64_t multiple = large ? std::int64_t{1} << 18 : std::int64_t{1} << 21;
  const std::int64_t sectors = gigabytes * kBytesPerGB / sectorBytes;
  const std::int64_t multiples = sectors / multiple + (sectors % multiple != 0 ? 1 : 0);
  if (multiples > std::numeric_limits<std::int64_t>::max() / (multiple * sectorBytes)) return std::nullopt;
  return static_cast<std::uint64_t>(multiples * multiple);
}

namespace {

using Refusal = std::optional<std::string>;

// What the asks themselves cannot be: none, or the rest anywhere but last.
Refusal CheckAsks(const std::vector<PlanAsk>& asks) {
  if (asks.empty()) return "no partitions asked for: give a file system and its capacities";
  for (std::size_t i = 0; i + 1 < asks.size(); ++i) {
    if (!asks[i].capacity) return "\"rest\" goes once, last: only the last partition takes the rest";
  }
  return std::nullopt;
}

// The disk's sectors and those its table leaves for partitions: GPT keeps
// its header and 128 entries at each end, an MBR only its first sector.
Refusal SetBounds(Plan& plan, std::int64_t diskBytes) {
  const bool gpt = plan.scheme == PartitionScheme::Gpt;
  plan.diskSectors = static_cast<std::uint64_t>(diskBytes / plan.sectorBytes);
  if (!gpt && plan.diskSectors > kMostMbrSectors) {
    return "a disk of more than 2^32 sectors, which an MBR cannot reach: plan it as GPT (leave out --mbr)";
  }
  const std::uint64_t tableSectors = gpt ? 1 + kGptEntriesBytes / static_cast<std::uint64_t>(plan.sectorBytes) : 0;
  plan.firstUsable = gpt ? 1 + tableSectors : 1;
  plan.lastUsable = plan.diskSectors > tableSectors + 2 ? plan.diskSectors - 1 - tableSectors : 0;
  return std::nullopt;
}

// A partition of a role, of `mebibytes` (0 for the rest), not placed yet.
PlannedPartition Sized(PlannedRole role, std::optional<FileSystem> kind, std::int64_t mebibytes,
                       std::int64_t sectorBytes) {
  PlannedPartition partition;
  partition.role = role;
  partition.kind = kind;
  partition.sectors = static_cast<std::uint64_t>(mebibytes) * AlignmentSectors(sectorBytes);
  return partition;
}

// Every partition in the order it lies: Windows' own first, each asked one
// at its exact figure, the recovery partition behind the first.
Refusal ListPartitions(Plan& plan, const PlanRequest& request) {
  const std::int64_t sectorBytes = plan.sectorBytes;
  auto& partitions = plan.partitions;
  if (request.windows && plan.scheme == PartitionScheme::Gpt) {
    const std::int64_t efi = sectorBytes == kLargeSectorBytes ? kEfiSystemMiBOnLargeSectors : kEfiSystemMiB;
    partitions.push_back(Sized(PlannedRole::EfiSystem, FileSystem::Fat32, efi, sectorBytes));
    partitions.push_back(Sized(PlannedRole::MsReserved, std::nullopt, kMsReservedMiB, sectorBytes));
  } else if (request.windows) {
    partitions.push_back(Sized(PlannedRole::MbrSystem, FileSystem::Ntfs, kMbrSystemMiB, sectorBytes));
    partitions.back().active = true;
  }
  for (std::size_t i = 0; i < request.asks.size(); ++i) {
    const PlanAsk& ask = request.asks[i];
    std::optional<std::int32_t> exact = 0;
    if (ask.capacity) exact = ExactMegabytes(ask.kind, *ask.capacity, sectorBytes);
    if (!exact) {
      return std::string(FileSystemName(ask.kind)) + " cannot hold " + Text(*ask.capacity) + " GB on " +
             Text(sectorBytes) + "-byte sectors: it holds at most " +
             Text(LargestCapacity(ask.kind, CapacityUse::Exact, sectorBytes)) + " GB";
    }
    partitions.push_back(Sized(PlannedRole::Data, ask.kind, *exact, sectorBytes));
    partitions.back().capacity = ask.capacity.value_or(0);
    partitions.back().rest = !ask.capacity;
    if (request.windows && i == 0) {
      partitions.push_back(Sized(PlannedRole::Recovery, FileSystem::Ntfs, request.recoveryMiB, sectorBytes));
    }
  }
  const bool gpt = plan.scheme == PartitionScheme::Gpt;
  const std::size_t mostPartitions = gpt ? 128 : kMostMbrPartitionNumber - 1;
  if (partitions.size() > mostPartitions) {
    return Text(static_cast<std::int64_t>(partitions.size())) + " partitions, more than " +
           (gpt ? std::string("a GPT's 128")
                : "an MBR's " + Text(kMostMbrPartitionNumber - 1) +
                      " (fdisk and sfdisk number them up to 60, the extended partition among them): plan it as GPT "
                      "(leave out --mbr)");
  }
  return std::nullopt;
}

// Each partition one after the other on the next MiB, the rest of no size
// yet. An MBR holds four: beyond them the fourth is an extended partition
// holding the others, each behind 1 MiB for its boot record. The first
// sector past the last partition.
std::uint64_t Place(Plan& plan) {
  const std::uint64_t step = AlignmentSectors(plan.sectorBytes);
  const bool extended = plan.scheme == PartitionScheme::Mbr && plan.partitions.size() > 4;
  std::uint64_t cursor = step;
  for (std::size_t i = 0; i < plan.partitions.size(); ++i) {
    PlannedPartition& placed = plan.partitions[i];
    placed.logical = extended && i >= 3;
    if (placed.logical) cursor += step;  // the extended boot record's MiB
    placed.firstSector = cursor;
    cursor += placed.sectors;
  }
  return cursor;
}

// A plan that runs past the usable sectors: by how much, Windows' own first.
Refusal CheckFits(const Plan& plan, std::size_t windowsPartitions, std::uint64_t cursor) {
  const std::uint64_t end = plan.lastUsable + 1;  // the first sector past the usable ones
  if (cursor <= end) return std::nullopt;
  const PlannedPartition* lastOwn = windowsPartitions == 0 ? nullptr : &plan.partitions[windowsPartitions - 1];
  const std::uint64_t windowsEnd = lastOwn == nullptr ? 0 : lastOwn->firstSector + lastOwn->sectors;
  if (windowsEnd > end) {
    return "the disk is too small for Windows' own partitions: they need " +
           MissingText(windowsEnd - end, plan.sectorBytes) + " more than it has";
  }
  return "the plan does not fit: it needs " + MissingText(cursor - end, plan.sectorBytes) + " more than the disk has";
}

// The rest in whole MiB, as diskpart can give it, if its file system fills
// it; those behind it move on.
Refusal SizeRest(Plan& plan, std::uint64_t& cursor) {
  const auto rest = std::find_if(plan.partitions.begin(), plan.partitions.end(),
                                 [](const PlannedPartition& partition) { return partition.rest; });
  if (rest == plan.partitions.end()) return std::nullopt;
  const std::int64_t sectorBytes = plan.sectorBytes;
  const std::uint64_t step = AlignmentSectors(sectorBytes);
  const std::uint64_t restSectors = (plan.lastUsable + 1 - cursor) / step * step;
  rest->sectors = restSectors;
  const auto restMiB = static_cast<std::int64_t>(restSectors / step);
  const std::string name(FileSystemName(*rest->kind));
  if (restMiB > LargestFilledMegabytes(*rest->kind, sectorBytes)) {
    return "the rest of the disk (" + Text(restMiB) + " MiB) is more than " + name + " holds on " + Text(sectorBytes) +
           "-byte sectors, at most " + Text(LargestCapacity(*rest->kind, CapacityUse::Exact, sectorBytes)) +
           " GB: give it a capacity";
  }
  if (restSectors == 0 || !FormattedCapacity(*rest->kind, restMiB, sectorBytes)) {
    return "no " + name + " volume fits the rest of the disk (" + Text(restMiB) + " MiB): give it a capacity";
  }
  rest->largestWholeGb = LargestWholeGb(*rest->kind, restMiB, sectorBytes);
  for (auto behind = rest + 1; behind != plan.partitions.end(); ++behind) behind->firstSector += restSectors;
  cursor += restSectors;
  return std::nullopt;
}

// What each data partition holds once formatted, and what stays free.
void Format(Plan& plan, std::uint64_t cursor) {
  const std::uint64_t step = AlignmentSectors(plan.sectorBytes);
  for (PlannedPartition& placed : plan.partitions) {
    if (placed.role == PlannedRole::Data) {
      placed.formatted =
          FormattedCapacity(*placed.kind, static_cast<std::int64_t>(placed.sectors / step), plan.sectorBytes);
    }
  }
  plan.unallocatedSectors = plan.lastUsable + 1 - cursor;
}

// An MBR's extended partition, the fourth, from the first logical one's
// boot record to the end; the numbers as fdisk gives them, and each type.
void AddExtendedAndNumber(Plan& plan, std::uint64_t cursor) {
  auto& partitions = plan.partitions;
  if (partitions.size() > 3 && partitions[3].logical) {
    PlannedPartition container;
    container.role = PlannedRole::Extended;
    container.firstSector = partitions[3].firstSector - AlignmentSectors(plan.sectorBytes);
    container.sectors = cursor - container.firstSector;
    partitions.insert(partitions.begin() + 3, container);
  }
  int number = 1;
  int logicalNumber = 5;
  for (PlannedPartition& placed : partitions) {
    placed.number = placed.logical ? logicalNumber++ : number++;
    placed.type = TypeOf(placed, plan.scheme);
  }
}

}  // namespace

PlanReading PlanDisk(const PlanRequest& request) {
  Plan plan;
  plan.scheme = request.scheme;
  plan.sectorBytes = request.sectorBytes;
  Refusal refusal = CheckAsks(request.asks);
  if (!refusal) refusal = SetBounds(plan, request.diskBytes);
  if (!refusal) refusal = ListPartitions(plan, request);
  if (refusal) return Refuse(*refusal);
  const std::size_t windowsPartitions = plan.partitions.size() - request.asks.size() - (request.windows ? 1 : 0);
  std::uint64_t cursor = Place(plan);
  refusal = CheckFits(plan, windowsPartitions, cursor);
  if (!refusal) refusal = SizeRest(plan, cursor);
  if (refusal) return Refuse(*refusal);
  Format(plan, cursor);
  AddExtendedAndNumber(plan, cursor);
  return {plan, {}};
}

}  // namespace karvo
