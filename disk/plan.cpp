#include "disk/plan.h"

#include <algorithm>
#include <limits>

#include "disk/explorer_size.h"
#include "disk/on_disk.h"

namespace karvo {
namespace {

// A partition before it has its place: its size in MiB, 0 for the rest.
struct Piece {
  PlannedRole role = PlannedRole::Data;
  std::optional<FileSystem> kind;
  std::int64_t mebibytes = 0;
  std::int32_t capacity = 0;
  bool rest = false;
  bool active = false;
};

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

PlanReading PlanDisk(const PlanRequest& request) {
  const std::int64_t sectorBytes = request.sectorBytes;
  const std::uint64_t step = AlignmentSectors(sectorBytes);
  Plan plan;
  plan.scheme = request.scheme;
  plan.sectorBytes = sectorBytes;
  plan.diskSectors = static_cast<std::uint64_t>(request.diskBytes / sectorBytes);
  const bool gpt = request.scheme == PartitionScheme::Gpt;
  if (request.asks.empty()) return Refuse("no partitions asked for: give a file system and its capacities");
  for (std::size_t i = 0; i + 1 < request.asks.size(); ++i) {
    if (!request.asks[i].capacity) return Refuse("\"rest\" goes once, last: only the last partition takes the rest");
  }
  if (!gpt && plan.diskSectors > kMostMbrSectors) {
    return Refuse("a disk of more than 2^32 sectors, which an MBR cannot reach: plan it as GPT (leave out --mbr)");
  }
  // GPT keeps its header and 128 entries at each end; an MBR only its first sector.
  const std::uint64_t tableSectors = gpt ? 1 + kGptEntriesBytes / static_cast<std::uint64_t>(sectorBytes) : 0;
  plan.firstUsable = gpt ? 1 + tableSectors : 1;
  plan.lastUsable = plan.diskSectors > tableSectors + 2 ? plan.diskSectors - 1 - tableSectors : 0;

  std::vector<Piece> pieces;
  if (request.windows && gpt) {
    const std::int64_t efi = sectorBytes == kLargeSectorBytes ? kEfiSystemMiBOnLargeSectors : kEfiSystemMiB;
    pieces.push_back({PlannedRole::EfiSystem, FileSystem::Fat32, efi});
    pieces.push_back({PlannedRole::MsReserved, std::nullopt, kMsReservedMiB});
  } else if (request.windows) {
    pieces.push_back({PlannedRole::MbrSystem, FileSystem::Ntfs, kMbrSystemMiB, 0, false, true});
  }
  const std::size_t windowsPieces = pieces.size();
  for (std::size_t i = 0; i < request.asks.size(); ++i) {
    const PlanAsk& ask = request.asks[i];
    Piece piece{PlannedRole::Data, ask.kind, 0, ask.capacity.value_or(0), !ask.capacity};
    if (ask.capacity) {
      const auto exact = ExactMegabytes(ask.kind, *ask.capacity, sectorBytes);
      if (!exact) {
        return Refuse(std::string(FileSystemName(ask.kind)) + " cannot hold " + Text(*ask.capacity) + " GB on " +
                      Text(sectorBytes) + "-byte sectors: it holds at most " +
                      Text(LargestCapacity(ask.kind, CapacityUse::Exact, sectorBytes)) + " GB");
      }
      piece.mebibytes = *exact;
    }
    pieces.push_back(piece);
    if (request.windows && i == 0) pieces.push_back({PlannedRole::Recovery, FileSystem::Ntfs, request.recoveryMiB});
  }
  // An MBR holds four: beyond them the fourth is an extended partition
  // holding the others, each behind 1 MiB for its boot record.
  const bool extended = !gpt && pieces.size() > 4;
  const std::size_t mostPartitions = gpt ? 128 : kMostMbrPartitionNumber - 1;
  if (pieces.size() > mostPartitions) {
    return Refuse(Text(static_cast<std::int64_t>(pieces.size())) + " partitions, more than " +
                  (gpt ? std::string("a GPT's 128")
                       : "an MBR's " + Text(kMostMbrPartitionNumber - 1) +
                             " (fdisk and sfdisk number them up to 60, the extended partition among them): plan it "
                             "as GPT (leave out --mbr)"));
  }

  // Each partition one after the other on the next MiB, the rest of no size yet.
  std::uint64_t cursor = step;
  std::size_t restAt = pieces.size();
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Piece& piece = pieces[i];
    PlannedPartition placed;
    placed.role = piece.role;
    placed.kind = piece.kind;
    placed.capacity = piece.capacity;
    placed.rest = piece.rest;
    placed.active = piece.active;
    placed.logical = extended && i >= 3;
    if (placed.logical) cursor += step;  // the extended boot record's MiB
    placed.firstSector = cursor;
    placed.sectors = static_cast<std::uint64_t>(piece.mebibytes) * step;
    if (piece.rest) restAt = i;
    cursor += placed.sectors;
    plan.partitions.push_back(placed);
  }
  const std::uint64_t end = plan.lastUsable + 1;  // the first sector past the usable ones
  if (cursor > end) {
    const std::uint64_t windowsEnd = windowsPieces == 0 ? 0
                                                        : plan.partitions[windowsPieces - 1].firstSector +
                                                              plan.partitions[windowsPieces - 1].sectors;
    if (windowsEnd > end) {
      return Refuse("the disk is too small for Windows' own partitions: they need " +
                    MissingText(windowsEnd - end, sectorBytes) + " more than it has");
    }
    return Refuse("the plan does not fit: it needs " + MissingText(cursor - end, sectorBytes) +
                  " more than the disk has");
  }
  if (restAt < pieces.size()) {
    // The rest in whole MiB, as diskpart can give it; those behind it move on.
    const std::uint64_t restSectors = (end - cursor) / step * step;
    PlannedPartition& rest = plan.partitions[restAt];
    rest.sectors = restSectors;
    const auto restMiB = static_cast<std::int64_t>(restSectors / step);
    const std::string name(FileSystemName(*rest.kind));
    if (restMiB > LargestFilledMegabytes(*rest.kind, sectorBytes)) {
      return Refuse("the rest of the disk (" + Text(restMiB) + " MiB) is more than " + name + " holds on " +
                    Text(sectorBytes) + "-byte sectors, at most " +
                    Text(LargestCapacity(*rest.kind, CapacityUse::Exact, sectorBytes)) + " GB: give it a capacity");
    }
    if (restSectors == 0 || !FormattedCapacity(*rest.kind, restMiB, sectorBytes)) {
      return Refuse("no " + name + " volume fits the rest of the disk (" + Text(restMiB) + " MiB): give it a capacity");
    }
    rest.largestWholeGb = LargestWholeGb(*rest.kind, restMiB, sectorBytes);
    for (std::size_t i = restAt + 1; i < plan.partitions.size(); ++i) plan.partitions[i].firstSector += restSectors;
    cursor += restSectors;
  }
  for (PlannedPartition& placed : plan.partitions) {
    if (placed.role == PlannedRole::Data) {
      placed.formatted = FormattedCapacity(*placed.kind, static_cast<std::int64_t>(placed.sectors / step), sectorBytes);
    }
  }
  plan.unallocatedSectors = end - cursor;
  // Numbers as fdisk gives them; an MBR's extended partition is the fourth.
  if (extended) {
    const PlannedPartition& firstLogical = plan.partitions[3];
    PlannedPartition container;
    container.role = PlannedRole::Extended;
    container.firstSector = firstLogical.firstSector - step;
    container.sectors = cursor - container.firstSector;
    plan.partitions.insert(plan.partitions.begin() + 3, container);
  }
  int number = 1;
  int logicalNumber = 5;
  for (PlannedPartition& placed : plan.partitions) {
    placed.number = placed.logical ? logicalNumber++ : number++;
    placed.type = TypeOf(placed, plan.scheme);
  }
  return {plan, {}};
}

}  // namespace karvo
