// The disk planner: a whole disk laid out as sfdisk and diskpart lay one
// out, each data partition of the size whose formatted volume Windows shows
// as the whole GB asked. Pure arithmetic: a disk and a list in, a layout or
// one line of refusal out; the writers (cli/plan.cpp) print it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/disk_bytes.h"
#include "disk/file_system.h"
#include "disk/partition_kind.h"
#include "disk/volume_layout.h"

namespace karvo {

// Windows' own partitions, as Windows Setup makes them (Microsoft's
// "UEFI/GPT-based hard drive partitions" and "BIOS/MBR-based hard drive
// partitions"): an EFI system partition of 100 MiB (260 MiB on 4096-byte
// sectors, where FAT32 needs 65,527 clusters of 4 KiB), a Microsoft reserved
// partition of 16 MiB, an MBR disk's active system partition of 100 MiB; a
// recovery partition behind the first data partition, of 1 GiB unless asked
// otherwise (Microsoft asks at least 300 MB, and 1 GB free once it is larger
// than 1 GB, room for winre.wim to grow).
inline constexpr std::int64_t kEfiSystemMiB = 100;
inline constexpr std::int64_t kEfiSystemMiBOnLargeSectors = 260;
inline constexpr std::int64_t kMsReservedMiB = 16;
inline constexpr std::int64_t kMbrSystemMiB = 100;
inline constexpr std::int64_t kRecoveryMiB = 1024;
inline constexpr std::int64_t kFewestRecoveryMiB = 300;

// The highest partition number that fdisk and sfdisk give on an MBR: the
// extended partition is the fourth, so 59 others fit beside it.
inline constexpr int kMostMbrPartitionNumber = 60;

// One data partition asked for: a file system, and whole GB or the rest.
struct PlanAsk {
  FileSystem kind = FileSystem::Ntfs;
  std::optional<std::int32_t> capacity;  // none: the rest of the disk
};

struct PlanRequest {
  std::int64_t diskBytes = 0;
  std::int64_t sectorBytes = kSectorBytes;
  PartitionScheme scheme = PartitionScheme::Gpt;
  bool windows = false;  // Windows' own partitions too
  std::int64_t recoveryMiB = kRecoveryMiB;
  std::vector<PlanAsk> asks;
};

enum class PlannedRole { EfiSystem, MsReserved, MbrSystem, Recovery, Data, Extended };

struct PlannedPartition {
  int number = 0;  // as fdisk numbers them: MBR's logical ones from 5
  PlannedRole role = PlannedRole::Data;
  std::optional<FileSystem> kind;       // none for the reserved and the extended partitions
  const PartitionKind* type = nullptr;  // its type, on the plan's scheme
  std::uint64_t firstSector = 0;
  std::uint64_t sectors = 0;
  bool logical = false;
  bool active = false;
  std::int32_t capacity = 0;  // the whole GB asked; 0 for Windows' own and for the rest
  bool rest = false;
  std::optional<VolumeCapacity> formatted;  // what its file system holds in Windows' default layout
  std::int32_t largestWholeGb = 0;          // the rest: the most whole GB that fits in it, 0 for none
};

struct Plan {
  PartitionScheme scheme = PartitionScheme::Gpt;
  std::int64_t sectorBytes = kSectorBytes;
  std::uint64_t diskSectors = 0;
  std::uint64_t firstUsable = 0;  // the first and last sectors the table leaves for partitions
  std::uint64_t lastUsable = 0;
  std::vector<PlannedPartition> partitions;  // in the order they lie on the disk
  std::uint64_t unallocatedSectors = 0;      // between the last partition and the last usable sector
};

struct PlanReading {
  std::optional<Plan> plan;
  std::string problem;  // one line, no full stop
};

// The sectors 1 MiB spans, the step every partition starts on.
constexpr std::uint64_t AlignmentSectors(std::int64_t sectorBytes) {
  return static_cast<std::uint64_t>(kBytesPerMiB / sectorBytes);
}

PlanReading PlanDisk(const PlanRequest& request);

// The number of sectors of a drive sold as `gigabytes` decimal GB, as the
// standards fix it: IDEMA LBA1-03 from 50 to 8,000 GB, SFF-8447 beyond (the
// bytes in sectors, rounded up to a multiple of 2^21 sectors of 512 bytes or
// 2^18 of 4096). None below 50 GB, and for a drive whose bytes do not fit in
// 63 bits.
std::optional<std::uint64_t> DriveSectors(std::int64_t gigabytes, std::int64_t sectorBytes);

}  // namespace karvo
