#include "cli/inspect.h"

#include <algorithm>
#include <array>

#include "disk/boot_sector.h"
#include "disk/explorer_size.h"
#include "disk/partition_table.h"
#include "disk/volume_layout.h"

namespace karvo::cli {
namespace {

// The bytes read from the start of a volume or a disk: enough for a boot
// sector of any sector size, and for an MBR.
constexpr std::size_t kStartBytes = 4096;

// A volume's file system, cluster size, capacity and Explorer's text, a line each.
std::string VolumeLines(const InspectedVolume& volume, std::string_view indent) {
  const std::string in(indent);
  const std::int64_t total = volume.capacity.TotalBytes();
  std::string lines = in + "file system: " + std::string(FileSystemName(volume.kind)) + "\n" + in +
                      "cluster size: " + Number(volume.capacity.clusterBytes) + " bytes\n";
  if (volume.kind == FileSystem::Fat32 && volume.capacity.clusters < kFewestFat32Clusters) {
    lines += in + "clusters: " + Number(volume.capacity.clusters) + ", fewer than the " + Number(kFewestFat32Clusters) +
             " the FAT specification asks of FAT32 (Windows reads it as FAT32)\n";
  }
  return lines + in + "capacity: " + Number(total) + " bytes\n" + in +
         "Windows shows: " + std::string(ExplorerSizeText(total).view()) + "\n";
}

// A volume, and with a capacity whether Windows shows it as that many GB.
Result VolumeReport(const InspectedVolume& volume, std::optional<std::string_view> capacityWord,
                    const std::string& heading) {
  Result result;
  std::optional<std::int32_t> capacity;
  if (capacityWord) {
    capacity = CheckCapacity(*capacityWord, volume.kind, CapacityUse::Inspected, result);
    if (!capacity) return result;
  }
  const std::int64_t total = volume.capacity.TotalBytes();
  result.out = heading + VolumeLines(volume, "");
  if (capacity) {
    const std::int64_t wanted = *capacity * kBytesPerGiB;
    result.out += "reaches " + Number(*capacity) + " GB: ";
    result.out += total >= wanted ? "yes\n" : "no, " + Number(wanted - total) + " bytes short\n";
    // What the user is after: Explorer's own text, which reaching N GiB does
    // not settle (N GiB and a little more can show as N + 1 GB).
    const bool showsN = ExplorerShowsGigabytes(total, *capacity);
    result.out += "Windows shows " + Number(*capacity) +
                  " GB: " + (showsN ? "yes\n" : "no, it shows " + std::string(ExplorerSizeText(total).view()) + "\n");
    if (!showsN) result.exitCode = kExitNotAsAsked;
  }
  return result;
}

std::string PartitionLine(const Partition& partition) {
  return "partition " + Number(partition.number) + ": start " + MiBText(partition.firstByte) + ", size " +
         MiBText(partition.bytes) + ", type " + std::string(partition.type.view()) +
         (partition.active ? ", active" : "") + "\n";
}

// What the start of a partition says: a volume, or why there is none.
struct PartitionStart {
  BootSectorReading reading;
  bool cutShort = false;  // less than a boot sector could be read
};

PartitionStart ReadPartitionStart(DiskReader& disk, const Partition& partition) {
  std::array<std::uint8_t, kStartBytes> start{};
  const auto wanted =
      std::span(start).first(static_cast<std::size_t>(std::min<std::int64_t>(kStartBytes, partition.bytes)));
  const std::size_t got = disk.ReadAt(partition.firstByte, wanted);
  PartitionStart read{ReadBootSector(wanted.first(got), partition.bytes, disk, partition.firstByte, Holder::Partition),
                      got < kBootSectorBytes};
  if (got == 0) read.reading.problem = "cannot be read";
  return read;
}

// Where a partition lies that no partitioner puts one; empty where it lies well.
std::string MisplacedText(const PartitionTable& table, const Partition& partition) {
  switch (partition.misplaced) {
    case Misplaced::No:
      break;
    case Misplaced::PastTheDisk:
      return "runs past the disk's end";
    case Misplaced::EndsBeforeStart:
      return "ends before it starts";
    case Misplaced::OutsideUsable:
      return "lies outside the sectors the GPT leaves for partitions (" +
             Number(static_cast<std::int64_t>(table.firstUsable)) + " to " +
             Number(static_cast<std::int64_t>(table.lastUsable)) + ")";
    case Misplaced::OutsideExtended: {
      const auto extended = std::find_if(table.partitions.begin(), table.partitions.end(),
                                         [](const Partition& p) { return p.extended && !p.ignored; });
      return "is not entirely inside extended partition " +
             (extended == table.partitions.end() ? std::string("?") : Number(extended->number));
    }
  }
  return "";
}

// What is said of a disk besides its partitions, a line each on standard
// error: a table read from its backup, a damaged backup, a hybrid MBR.
std::string TableNotes(const std::string& name, const PartitionTableReading& reading) {
  std::string notes;
  if (const auto& copy = reading.damagedCopy) {
    notes += ErrorLine(
        name + (copy->which == DamagedCopy::Which::Primary
                    ? ": " + std::string(copy->problem) + "; the backup GPT at the disk's end is whole and is listed"
                    : ": the backup GPT cannot be used (" + std::string(copy->problem) +
                          "); the primary is whole and is listed"));
  }
  if (reading.table->hybridMbr) {
    notes += ErrorLine(name +
                       ": a hybrid MBR: beside the GPT's protective entry it names partitions of its own, which only "
                       "BIOS systems use; the GPT is listed");
  }
  return notes;
}

// A whole disk: each partition, and what each FAT32, NTFS or exFAT one holds.
// Such a volume that cannot be read, a partition out of its place or a
// broken chain of logical partitions fails the listing, after it.
Result ListPartitions(const std::string& name, const PartitionTable& table, DiskReader& disk) {
  Result result;
  result.out = "partition table: " + std::string(SchemeName(table.scheme)) + ", " + Number(table.sectorBytes) +
               "-byte sectors\n";
  if (table.partitions.empty()) result.out += "no partitions\n";
  std::string unreadable;
  std::string faults;
  for (const Partition& partition : table.partitions) {
    result.out += PartitionLine(partition);
    if (partition.overlaps != 0) result.out += "  overlaps partition " + Number(partition.overlaps) + "\n";
    if (partition.ignored) result.out += "  a second extended partition: ignored, as fdisk and Windows ignore it\n";
    if (const std::string misplaced = MisplacedText(table, partition); !misplaced.empty()) {
      result.out += "  " + misplaced + "\n";
      std::string fault = name;
      fault.append(": partition ").append(Number(partition.number)).append(" ").append(misplaced);
      faults += ErrorLine(fault);
      continue;
    }
    if (partition.extended) continue;  // its logical partitions follow
    const auto [reading, cutShort] = ReadPartitionStart(disk, partition);
    result.out += reading.volume ? VolumeLines(*reading.volume, "  ") : "  " + ProblemLine(reading) + "\n";
    if (!reading.note.empty()) {
      result.error += ErrorLine(name + ", partition " + Number(partition.number) + ": " + std::string(reading.note));
    }
    // Damaged fields say FAT32, NTFS or exFAT whatever the type; a start cut short
    // or out of reach says it only of a type that holds them.
    if (reading.outcome == Outcome::Damaged && (partition.windowsType || !cutShort)) {
      unreadable += (unreadable.empty() ? "" : ", ") + Number(partition.number);
    }
  }
  if (table.chainBreaksAfter != 0) {
    faults +=
        ErrorLine(name + ": a damaged extended partition: its chain of logical partitions breaks after partition " +
                  Number(table.chainBreaksAfter));
  }
  if (!unreadable.empty()) {
    faults += ErrorLine(name + ": a FAT32, NTFS or exFAT volume that cannot be read, in partition " + unreadable);
  }
  if (!faults.empty()) result.exitCode = kExitFailed;
  result.error += faults;
  return result;
}

Result InspectPartition(const std::string& name, const PartitionTable& table, DiskReader& disk, int number,
                        std::optional<std::string_view> capacityWord) {
  const auto partition = std::find_if(table.partitions.begin(), table.partitions.end(),
                                      [number](const Partition& p) { return p.number == number; });
  if (partition == table.partitions.end()) return Failure(name + " has no partition " + Number(number));
  const std::string where = name + ", partition " + Number(number);
  if (const std::string misplaced = MisplacedText(table, *partition); !misplaced.empty()) {
    return Failure(where + " " + misplaced);
  }
  if (partition->extended) return Failure(where + ": an extended partition, which holds the logical ones");
  const BootSectorReading reading = ReadPartitionStart(disk, *partition).reading;
  if (!reading.volume) return Failure(where + ": " + ProblemLine(reading));
  Result result = VolumeReport(*reading.volume, capacityWord, PartitionLine(*partition));
  if (!reading.note.empty()) result.error = ErrorLine(where + ": " + std::string(reading.note)) + result.error;
  return result;
}

// A volume by itself: what goes with a whole disk does not go with it.
Result WholeVolume(const Request& request, const std::string& name, const BootSectorReading& reading,
                   std::optional<std::string_view> capacityWord) {
  if (request.partition || request.sectorBytes) {
    return Failure(std::string(request.partition ? "--partno" : "--sector-size") + " goes with a whole disk: " + name +
                   " is one volume");
  }
  Result result = VolumeReport(*reading.volume, capacityWord, "");
  if (!reading.note.empty()) result.error = ErrorLine(name + ": " + std::string(reading.note)) + result.error;
  return result;
}

}  // namespace

Result Inspect(const Request& request, SourceOpener open) {
  const std::string_view path = *request.inspectPath;
  const std::string name = QuotedName(path);
  if (request.words.size() > 1) return Failure(Quoted(request.words[1]) + " is one capacity too many for --inspect");
  std::optional<std::string_view> capacityWord;
  if (!request.words.empty()) {
    capacityWord = request.words.front();
    // What the user typed is checked before the volume is read; its range
    // waits for the file system.
    Result failure;
    if (!CheckCapacity(*capacityWord, std::nullopt, CapacityUse::Inspected, failure)) return failure;
  }
  if (open == nullptr) return Failure("cannot read volumes here");
  const Source source = open(path);
  if (!source.problem.empty()) return Failure(name + ": " + source.problem);
  if (source.mounted) {
    BootSectorReading mounted;
    mounted.outcome = Outcome::Found;
    mounted.volume = source.mounted;
    return WholeVolume(request, name, mounted, capacityWord);
  }
  DiskReader& disk = *source.reader;
  if (auto refused = SectorSizeRefused(request, disk, name)) return *refused;
  std::array<std::uint8_t, kStartBytes> buffer{};
  const auto start = std::span(buffer).first(disk.ReadAt(0, buffer));
  const BootSectorReading reading = ReadBootSector(start, disk.SizeBytes(), disk, 0);
  if (reading.volume) return WholeVolume(request, name, reading, capacityWord);
  // A volume of some kind, named or damaged, is no partition table, though
  // its boot sector may look like an empty one.
  if (reading.outcome != Outcome::NotThisKind || !HoldsPartitionTable(start)) {
    return Failure(name + ": " + ProblemLine(reading));
  }
  // A whole disk, or an image of one. Its partitions lie anywhere: a pipe,
  // which reads only forward, cannot reach them in the order they are needed.
  if (!disk.CanSeek()) {
    return Failure(name +
                   ": a whole disk, whose partitions cannot be read through a pipe: give its image file or its device");
  }
  const PartitionTableReading partitions =
      ReadPartitionTable(start, disk, request.sectorBytes ? request.sectorBytes : disk.SectorBytes());
  if (!partitions.table) return Failure(name + ": " + std::string(partitions.problem));
  Result result;
  if (request.partition) {
    result = InspectPartition(name, *partitions.table, disk, *request.partition, capacityWord);
  } else if (capacityWord) {
    return Failure(name + " is a whole disk: a capacity goes with one partition (--partno N)");
  } else {
    result = ListPartitions(name, *partitions.table, disk);
  }
  result.error = TableNotes(name, partitions) + result.error;
  return result;
}

}  // namespace karvo::cli
