#include "cli/inspect.h"

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <vector>

#include "cli/json_parts.h"
#include "disk/boot_sector.h"
#include "disk/explorer_size.h"
#include "disk/partition_table.h"
#include "disk/volume_layout.h"

namespace karvo::cli {
namespace {

// The bytes read from the start of a volume or a disk: enough for a boot
// sector of any sector size, and for an MBR.
constexpr std::size_t kStartBytes = 4096;

// What is said of a volume that Windows reads all the same: a FAT32 one of
// fewer than 65,525 clusters, the least Microsoft's FAT32 asks. Empty for none.
std::string VolumeNote(const InspectedVolume& volume) {
  if (volume.kind != FileSystem::Fat32 || volume.capacity.clusters >= kFewestFat32Clusters) return "";
  return "clusters: " + Number(volume.capacity.clusters) + ", fewer than the " + Number(kFewestFat32Clusters) +
         " the FAT specification asks of FAT32 (Windows reads it as FAT32)";
}

// A volume's file system, cluster size, capacity and Explorer's text, a line each.
std::string VolumeLines(const InspectedVolume& volume, std::string_view indent) {
  const std::string in(indent);
  const std::int64_t total = volume.capacity.TotalBytes();
  std::string lines = in + "file system: " + std::string(FileSystemName(volume.kind)) + "\n" + in +
                      "cluster size: " + Number(volume.capacity.clusterBytes) + " bytes\n";
  if (const std::string note = VolumeNote(volume); !note.empty()) lines += in + note + "\n";
  return lines + in + "capacity: " + Number(total) + " bytes\n" + in +
         "Windows shows: " + std::string(ExplorerSizeText(total).view()) + "\n";
}

std::string PartitionLine(const Partition& partition) {
  return "partition " + Number(partition.number) + ": start " + MiBText(partition.firstByte) + ", size " +
         MiBText(partition.bytes) + ", type " + std::string(partition.type.view()) +
         (partition.active ? ", active" : "") + "\n";
}

// A partition as the JSON gives it: sfdisk's members, then the catalogue's name.
void WritePartition(JsonWriter& json, const PartitionTable& table, const Partition& partition) {
  SfdiskEntry entry;
  entry.scheme = table.scheme;
  entry.number = partition.number;
  entry.start = static_cast<std::uint64_t>(partition.firstByte / table.sectorBytes);
  entry.size = static_cast<std::uint64_t>(partition.bytes / table.sectorBytes);
  entry.guid = partition.guid.view();
  entry.code = partition.code;
  entry.name = partition.name;
  entry.bootable = partition.active;
  entry.attributes = partition.attributes;
  entry.kind = partition.kind;
  WriteSfdiskEntry(json, entry);
}

// Where a volume was found: the path, and on a disk the partition.
struct Place {
  std::string_view path;
  const PartitionTable* table = nullptr;
  const Partition* partition = nullptr;
};

void WriteNotes(JsonWriter& json, std::string_view key, std::span<const std::string> notes) {
  json.Array(key);
  for (const std::string& note : notes) json.Text({}, note);
  json.End();
}

// A volume, and with a capacity whether Windows shows it as that many GB.
Result VolumeReport(const Request& request, const InspectedVolume& volume, std::optional<std::string_view> capacityWord,
                    const Place& place, std::string_view note) {
  Result result;
  std::optional<std::int32_t> capacity;
  if (capacityWord) {
    capacity = CheckCapacity(*capacityWord, volume.kind, CapacityUse::Inspected, result);
    if (!capacity) return result;
  }
  const std::int64_t total = volume.capacity.TotalBytes();
  const std::int64_t wanted = capacity ? *capacity * kBytesPerGiB : 0;
  // What the user is after: Explorer's own text, which reaching N GiB does
  // not settle (N GiB and a little more can show as N + 1 GB).
  const bool showsN = capacity && ExplorerShowsGigabytes(total, *capacity);
  if (capacity && !showsN) result.exitCode = kExitNotAsAsked;
  if (request.json) {
    JsonWriter json;
    json.Object("volume").Text("device", place.path);
    if (place.partition != nullptr) {
      json.Object("partition");
      WritePartition(json, *place.table, *place.partition);
      json.End();
    }
    WriteVolume(json, volume);
    if (capacity) {
      json.Number("capacity_gb", *capacity)
          .Bool("reaches", total >= wanted)
          .Number("short_bytes", std::max<std::int64_t>(0, wanted - total));
      json.Bool("shows_capacity", showsN);
    }
    std::vector<std::string> notes;
    for (std::string said : {VolumeNote(volume), std::string(note)}) {
      if (!said.empty()) notes.push_back(std::move(said));
    }
    WriteNotes(json, "notes", notes);
    result.out = json.Done();
    return result;
  }
  result.out = (place.partition != nullptr ? PartitionLine(*place.partition) : "") + VolumeLines(volume, "");
  if (capacity) {
    result.out += "reaches " + Number(*capacity) + " GB: ";
    result.out += total >= wanted ? "yes\n" : "no, " + Number(wanted - total) + " bytes short\n";
    result.out += "Windows shows " + Number(*capacity) +
                  " GB: " + (showsN ? "yes\n" : "no, it shows " + std::string(ExplorerSizeText(total).view()) + "\n");
  }
  return result;
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

// What is said of a disk besides its partitions, each a line on standard
// error after the disk's name: a table read from its backup, a damaged
// backup, a hybrid MBR.
std::vector<std::string> TableNotes(const PartitionTableReading& reading) {
  std::vector<std::string> notes;
  if (const auto& copy = reading.damagedCopy) {
    notes.push_back(copy->which == DamagedCopy::Which::Primary
                        ? std::string(copy->problem) + "; the backup GPT at the disk's end is whole and is listed"
                        : "the backup GPT cannot be used (" + std::string(copy->problem) +
                              "); the primary is whole and is listed");
  }
  if (reading.table->hybridMbr) {
    notes.emplace_back(
        "a hybrid MBR: beside the GPT's protective entry it names partitions of its own, which only BIOS systems "
        "use; the GPT is listed");
  }
  return notes;
}

// Each message a line on standard error, after the disk's name.
std::string DiskLines(const std::string& name, std::span<const std::string> messages) {
  std::string lines;
  for (const std::string& message : messages) lines += ErrorLine(std::string(name).append(": ").append(message));
  return lines;
}

// A whole disk as it was read: each partition and what its start holds, and
// what fails the listing.
struct ListedPartition {
  const Partition* partition = nullptr;
  std::vector<std::string> notes;          // said under it: an overlap, an extended partition ignored
  std::string misplaced;                   // where it lies that no partitioner puts one
  std::optional<BootSectorReading> start;  // what its start holds; none for a misplaced or an extended one
};
struct Listing {
  std::vector<ListedPartition> partitions;
  std::vector<std::string> problems;  // what fails the listing, each a line after the disk's name
};

// Each partition, and what each FAT32, NTFS or exFAT one holds. Such a
// volume that cannot be read, a partition out of its place or a broken
// chain of logical partitions fails the listing.
Listing ReadListing(const PartitionTable& table, DiskReader& disk) {
  Listing listing;
  std::string unreadable;
  for (const Partition& partition : table.partitions) {
    ListedPartition& listed = listing.partitions.emplace_back();
    listed.partition = &partition;
    if (partition.overlaps != 0) listed.notes.push_back("overlaps partition " + Number(partition.overlaps));
    if (partition.ignored)
      listed.notes.emplace_back("a second extended partition: ignored, as fdisk and Windows ignore it");
    listed.misplaced = MisplacedText(table, partition);
    if (!listed.misplaced.empty()) {
      listing.problems.push_back("partition " + Number(partition.number) + " " + listed.misplaced);
      continue;
    }
    if (partition.extended) continue;  // its logical partitions follow
    const auto [reading, cutShort] = ReadPartitionStart(disk, partition);
    listed.start = reading;
    // Damaged fields say FAT32, NTFS or exFAT whatever the type; a start cut short
    // or out of reach says it only of a type that holds them.
    if (reading.outcome == Outcome::Damaged && (partition.windowsType || !cutShort)) {
      unreadable += (unreadable.empty() ? "" : ", ") + Number(partition.number);
    }
  }
  if (table.chainBreaksAfter != 0) {
    listing.problems.push_back("a damaged extended partition: its chain of logical partitions breaks after partition " +
                               Number(table.chainBreaksAfter));
  }
  if (!unreadable.empty()) {
    listing.problems.push_back("a FAT32, NTFS or exFAT volume that cannot be read, in partition " + unreadable);
  }
  return listing;
}

std::string ListingText(const PartitionTable& table, const Listing& listing) {
  std::string out = "partition table: " + std::string(SchemeName(table.scheme)) + ", " + Number(table.sectorBytes) +
                    "-byte sectors\n";
  if (listing.partitions.empty()) out += "no partitions\n";
  for (const ListedPartition& listed : listing.partitions) {
    out += PartitionLine(*listed.partition);
    for (const std::string& note : listed.notes) out += "  " + note + "\n";
    if (!listed.misplaced.empty()) out += "  " + listed.misplaced + "\n";
    if (!listed.start) continue;
    out += listed.start->volume ? VolumeLines(*listed.start->volume, "  ") : "  " + ProblemLine(*listed.start) + "\n";
  }
  return out;
}

// What a reader made of a partition's start, as the JSON names it.
std::string_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Found:
      return "found";
    case Outcome::OtherKind:
      return "other";
    case Outcome::Damaged:
      return "damaged";
    case Outcome::NotThisKind:
      break;
  }
  return "unknown";
}

std::string ListingJson(std::string_view path, const PartitionTableReading& reading, const Listing& listing) {
  const PartitionTable& table = *reading.table;
  JsonWriter json;
  json.Object("partitiontable").Text("label", SfdiskLabel(table.scheme)).Text("device", path).Text("unit", "sectors");
  if (table.scheme == PartitionScheme::Gpt) {
    json.Number("firstlba", static_cast<std::int64_t>(table.firstUsable))
        .Number("lastlba", static_cast<std::int64_t>(table.lastUsable));
  }
  json.Number("sectorsize", table.sectorBytes).Array("partitions");
  for (const ListedPartition& listed : listing.partitions) {
    json.Object();
    WritePartition(json, table, *listed.partition);
    if (listed.start) {
      json.Text("outcome", OutcomeName(listed.start->outcome));
      if (listed.start->volume) {
        json.Object("volume");
        WriteVolume(json, *listed.start->volume);
        json.End().Null("problem");
      } else {
        json.Null("volume").Text("problem", ProblemLine(*listed.start));
      }
    } else {
      json.Null("outcome").Null("volume").Null("problem");
    }
    std::vector<std::string> notes = listed.notes;
    if (listed.start && listed.start->volume && !VolumeNote(*listed.start->volume).empty()) {
      notes.push_back(VolumeNote(*listed.start->volume));
    }
    if (listed.start && !listed.start->note.empty()) notes.emplace_back(listed.start->note);
    WriteNotes(json, "notes", notes);
    const std::string problems[] = {listed.misplaced};
    WriteNotes(json, "problems", std::span(problems).first(listed.misplaced.empty() ? 0 : 1));
    json.End();
  }
  json.End();
  WriteNotes(json, "notes", TableNotes(reading));
  WriteNotes(json, "problems", listing.problems);
  return json.Done();
}

// A whole disk: its listing, with what is said beside it on standard error,
// and the failure status where the listing fails.
Result ListPartitions(const Request& request, const std::string& name, const PartitionTableReading& reading,
                      DiskReader& disk) {
  const PartitionTable& table = *reading.table;
  const Listing listing = ReadListing(table, disk);
  Result result;
  result.out = request.json ? ListingJson(*request.inspectPath, reading, listing) : ListingText(table, listing);
  for (const ListedPartition& listed : listing.partitions) {
    if (listed.start && !listed.start->note.empty()) {
      result.error +=
          ErrorLine(name + ", partition " + Number(listed.partition->number) + ": " + std::string(listed.start->note));
    }
  }
  result.error += DiskLines(name, listing.problems);
  if (!listing.problems.empty()) result.exitCode = kExitFailed;
  return result;
}

Result InspectPartition(const Request& request, const std::string& name, const PartitionTable& table, DiskReader& disk,
                        std::optional<std::string_view> capacityWord) {
  const int number = *request.partition;
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
  Result result =
      VolumeReport(request, *reading.volume, capacityWord, {*request.inspectPath, &table, &*partition}, reading.note);
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
  Result result = VolumeReport(request, *reading.volume, capacityWord, {*request.inspectPath}, reading.note);
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
    result = InspectPartition(request, name, *partitions.table, disk, capacityWord);
  } else if (capacityWord) {
    return Failure(name + " is a whole disk: a capacity goes with one partition (--partno N)");
  } else {
    result = ListPartitions(request, name, partitions, disk);
  }
  result.error = DiskLines(name, TableNotes(partitions)) + result.error;
  return result;
}

}  // namespace karvo::cli
