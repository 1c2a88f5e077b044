#include "cli/plan.h"

#include <array>

#include "cli/json_parts.h"
#include "disk/boot_sector.h"
#include "disk/explorer_size.h"
#include "disk/partition_table.h"
#include "disk/plan.h"

namespace karvo::cli {
namespace {

// The disk as it was understood: its sectors, and how the plan names it.
struct Disk {
  std::int64_t bytes = 0;
  std::int64_t sectorBytes = kSectorBytes;
  std::string name;                      // "1 TB drive", "931.5GiB", or the path, quoted
  std::string holds;                     // what a disk given by path holds now; empty for none
  std::optional<std::string_view> path;  // a disk given by the path of its image or device
};

// "an MBR", "a GPT", "an NTFS volume": the article a scheme's or a file
// system's name takes.
std::string WithArticle(std::string_view name) {
  const bool vowel = name == "MBR" || name == "NTFS" || name == "exFAT";
  return (vowel ? "an " : "a ") + std::string(name);
}

// A disk given by path: its size and sector size, and what it holds now.
std::optional<Disk> DiskOfPath(const Request& request, SourceOpener open, Result& failure) {
  const std::string name = QuotedName(*request.planDisk);
  if (open == nullptr) {
    failure = Failure("cannot read disks here");
    return std::nullopt;
  }
  const Source source = open(*request.planDisk);
  if (!source.problem.empty() || source.mounted || !source.reader->SizeBytes() || !source.partitionOf.empty()) {
    failure = Failure(name + ": " +
                      (source.missing ? source.problem + ", and no disk's size either: give a size (1TB, 500GB, "
                                                         "931.5GiB or bytes), or an image or a device"
                       : !source.problem.empty() ? source.problem
                       : !source.partitionOf.empty()
                           ? "a partition of " + source.partitionOf + ", not a whole disk: give " + source.partitionOf
                       : source.mounted ? std::string("a volume: give the whole disk, or its size")
                                        : std::string("no size to plan for: give an image file or a device")));
    return std::nullopt;
  }
  DiskReader& reader = *source.reader;
  if (auto refused = SectorSizeRefused(request, reader, name)) {
    failure = *refused;
    return std::nullopt;
  }
  const std::optional<std::int64_t> given = request.sectorBytes ? request.sectorBytes : reader.SectorBytes();
  Disk disk;
  disk.sectorBytes = given.value_or(kSectorBytes);
  disk.name = name;
  disk.path = request.planDisk;
  std::array<std::uint8_t, kLargeSectorBytes> start{};
  const auto first = std::span(start).first(reader.ReadAt(0, start));
  const BootSectorReading volume = ReadBootSector(first, reader.SizeBytes(), reader, 0);
  const std::string replaces = ": the plan replaces it (karvo-size --inspect " + name + " ";
  if (volume.volume) {
    disk.holds = "it holds " + WithArticle(FileSystemName(volume.volume->kind)) + " volume now, not a partition table" +
                 replaces + "reads it)";
  } else if (HoldsPartitionTable(first)) {
    // An image's own table tells its sectors, as --inspect reads them.
    const PartitionTableReading reading = ReadPartitionTable(first, reader, given);
    if (reading.table) {
      disk.sectorBytes = reading.table->sectorBytes;
      const auto count = static_cast<std::int64_t>(reading.table->partitions.size());
      disk.holds = "it holds " + WithArticle(SchemeName(reading.table->scheme)) + " partition table now, with " +
                   Number(count) + (count == 1 ? " partition" : " partitions") + replaces + "lists them)";
    }
  }
  disk.bytes = *reader.SizeBytes() - *reader.SizeBytes() % disk.sectorBytes;
  return disk;
}

// The partitions asked for: each file system for the capacities after it
// (NTFS before any), the last capacity perhaps "rest".
std::optional<std::vector<PlanAsk>> Asks(const Request& request, std::int64_t sectorBytes, Result& failure) {
  std::vector<PlanAsk> asks;
  FileSystem kind = FileSystem::Ntfs;
  // A file system's word waits for its capacities: one with none is refused.
  std::optional<std::string_view> waiting;
  const auto unused = [&] {
    failure = Failure(Quoted(*waiting) + " has no capacity after it: give each file system before its capacities");
    return std::nullopt;
  };
  for (std::string_view word : request.sequence) {
    if (const auto named = ParseFileSystem(word)) {
      if (waiting) return unused();
      kind = *named;
      waiting = word;
      continue;
    }
    waiting.reset();
    if (Lowercase(word) == "rest") {
      asks.push_back({kind, std::nullopt});
      continue;
    }
    const auto capacity = CheckCapacity(word, kind, CapacityUse::Exact, failure, sectorBytes);
    if (!capacity) return std::nullopt;
    asks.push_back({kind, capacity});
  }
  if (waiting) return unused();
  return asks;
}

// What the plan calls a partition: its GPT name in sfdisk's script and the
// label diskpart formats its volume with, none for one it leaves unformatted;
// the data partitions numbered in order.
struct Names {
  std::string gpt;
  std::string label;
};
Names NamesOf(const PlannedPartition& partition, int& data) {
  switch (partition.role) {
    case PlannedRole::EfiSystem:
      return {"EFI system partition", "System"};
    case PlannedRole::MsReserved:
      return {"Microsoft reserved partition", ""};
    case PlannedRole::MbrSystem:
      return {"", "System"};
    case PlannedRole::Recovery:
      return {"Windows recovery", "Recovery"};
    case PlannedRole::Extended:
      return {"", ""};
    case PlannedRole::Data:
      break;
  }
  const std::string numbered = "Data " + Number(++data);
  return {numbered, numbered};
}

std::string Mib(std::uint64_t sectors, std::int64_t sectorBytes) {
  return Number(static_cast<std::int64_t>(sectors) * sectorBytes / kBytesPerMiB);
}

std::string Shows(const PlannedPartition& partition) {
  return partition.formatted ? std::string(ExplorerSizeText(partition.formatted->TotalBytes()).view()) : "";
}

// What the plan says of the partition that takes the rest: what Windows
// shows of it, and below 1000 GB, where that is no whole number of GB, the
// most whole GB that fits.
std::string RestAdvice(const PlannedPartition& partition) {
  const std::int64_t total = partition.formatted->TotalBytes();
  const auto whole = static_cast<std::int32_t>(total / kBytesPerGiB);
  std::string rest = "partition " + Number(partition.number) + " takes the rest: Windows shows " +
                     std::string(ExplorerSizeText(total).view());
  // From 1000 GB Windows shows TB: no whole GB to aim at.
  if (ExplorerShowsGigabytesOrLess(total) && (whole == 0 || !ExplorerShowsGigabytes(total, whole))) {
    const std::string word = Lowercase(FileSystemName(*partition.kind));
    rest += partition.largestWholeGb == 0
                ? ", not a whole number of GB, and no whole GB fits"
                : ", not a whole number of GB: " + Number(partition.largestWholeGb) +
                      " GB is the most that fits (give " + word + " " + Number(partition.largestWholeGb) + ")";
  }
  return rest;
}

std::string TableText(const Plan& plan) {
  std::string out =
      "partition table: " + std::string(SchemeName(plan.scheme)) + ", " + Number(plan.sectorBytes) + "-byte sectors\n";
  out += Trimmed(Column("#", 4, true) + "  " + Column("type", 22) + Column("start (MiB)", 12, true) +
                 Column("size (MiB)", 12, true) + "  " + Column("file system", 13) + "Windows shows");
  std::string rest;
  for (const PlannedPartition& partition : plan.partitions) {
    std::string shows = Shows(partition);
    if (partition.rest) shows += ", the rest";
    if (partition.active) shows += shows.empty() ? "active" : ", active";
    out += Trimmed(Column(Number(partition.number), 4, true) + "  " +
                   Column(std::string(TypeName(*partition.type).view()), 22) +
                   Column(Mib(partition.firstSector, plan.sectorBytes), 12, true) +
                   Column(Mib(partition.sectors, plan.sectorBytes), 12, true) + "  " +
                   Column(partition.kind ? std::string(FileSystemName(*partition.kind)) : "", 13) + shows);
    if (partition.rest) rest = RestAdvice(partition) + "\n";
  }
  out += "unallocated: " + MiBText(static_cast<std::int64_t>(plan.unallocatedSectors) * plan.sectorBytes) + "\n";
  return out + rest;
}

std::string CsvText(const Plan& plan) {
  std::string out = "number,type,start_sector,sectors,start_mib,size_mib,file_system,capacity_gb,bytes,windows_shows\n";
  for (const PlannedPartition& partition : plan.partitions) {
    out += Number(partition.number) + "," + std::string(TypeName(*partition.type).view()) + "," +
           Number(static_cast<std::int64_t>(partition.firstSector)) + "," +
           Number(static_cast<std::int64_t>(partition.sectors)) + "," + Mib(partition.firstSector, plan.sectorBytes) +
           "," + Mib(partition.sectors, plan.sectorBytes) + "," +
           (partition.kind ? std::string(FileSystemName(*partition.kind)) : "") + "," +
           (partition.rest            ? std::string("rest")
            : partition.capacity != 0 ? Number(partition.capacity)
                                      : "") +
           "," + (partition.formatted ? Number(partition.formatted->TotalBytes()) : "") + "," + Shows(partition) + "\n";
  }
  return out;
}

// sfdisk's script: every start and size in sectors, never a suffixed size,
// which sfdisk shrinks to fit without a word.
std::string SfdiskText(const Disk& disk, const Plan& plan) {
  const bool gpt = plan.scheme == PartitionScheme::Gpt;
  std::string out = "# karvo-size --plan for " + disk.name + ": sfdisk DEVICE < this file\n";
  out += "label: " + std::string(SfdiskLabel(plan.scheme)) +
         "\nunit: sectors\nsector-size: " + Number(plan.sectorBytes) + "\n\n";
  int data = 0;
  for (const PlannedPartition& partition : plan.partitions) {
    const PartitionKind& type = *partition.type;
    const std::string name = NamesOf(partition, data).gpt;
    out += "start=" + Number(static_cast<std::int64_t>(partition.firstSector)) +
           ", size=" + Number(static_cast<std::int64_t>(partition.sectors)) +
           ", type=" + std::string(TypeId(type).view());
    if (gpt) out += ", name=\"" + name + "\"";
    if (partition.active) out += ", bootable";
    if (type.attributes != 0) out += ", attrs=\"" + GptAttributesText(type.attributes) + "\"";
    out += "\n";
  }
  return out;
}

// diskpart's script: one command a line, no empty line, rem for comments;
// each partition at its offset (KB) and of its size (MB, which diskpart
// means as MiB), so that diskpart makes what sfdisk would.
std::string DiskpartText(const Request& request, const Disk& disk, const Plan& plan) {
  const bool gpt = plan.scheme == PartitionScheme::Gpt;
  const std::string number = Number(*request.diskpartDisk);
  std::string out = "rem karvo-size --plan for " + disk.name + ", as disk " + number + " of diskpart's list disk\n";
  out += request.clean ? "rem It erases everything on disk " + number + ": clean removes its partitions and " +
                             "convert makes it " + (gpt ? "GPT" : "MBR") + ".\n"
                       : "rem It erases nothing: disk " + number + " must be " + (gpt ? "GPT" : "MBR") +
                             " and empty already (karvo-size --clean cleans it first).\n";
  out += "select disk " + number + "\n";
  if (request.clean) out += std::string("clean\nconvert ") + (gpt ? "gpt" : "mbr") + "\n";
  int data = 0;
  for (const PlannedPartition& partition : plan.partitions) {
    const PartitionKind& type = *partition.type;
    const std::string label = NamesOf(partition, data).label;
    out += "create partition " + std::string(partition.logical ? "logical" : type.diskpart) +
           " size=" + Mib(partition.sectors, plan.sectorBytes) +
           " offset=" + Number(static_cast<std::int64_t>(partition.firstSector) * plan.sectorBytes / 1024) + "\n";
    if (label.empty()) continue;
    // Windows' own format makes FAT32 volumes of up to 32 GB: a larger one
    // keeps its type and waits for another formatter.
    const bool unformatted = partition.kind == FileSystem::Fat32 &&
                             static_cast<std::int64_t>(partition.sectors) * plan.sectorBytes > 32 * kBytesPerGiB;
    if (unformatted) {
      out += "rem Windows formats FAT32 up to 32 GB: format " + label + " with another tool (mkfs.fat).\n";
    } else {
      out += "format quick fs=" + Lowercase(FileSystemName(*partition.kind)) + " label=\"" + label + "\"\n";
    }
    // The type that create and format do not give by themselves.
    if (partition.role == PlannedRole::Recovery || (unformatted && !gpt)) {
      out += "set id=" + std::string(TypeId(type).view()) + "\n";
    }
    if (type.attributes != 0) out += "gpt attributes=" + std::string(GptAttributesBits(type.attributes).view()) + "\n";
    if (partition.active) out += "active\n";
    if (partition.role == PlannedRole::Data && request.assign) out += "assign\n";
  }
  return out;
}

std::string_view RoleName(PlannedRole role) {
  switch (role) {
    case PlannedRole::EfiSystem:
      return "efi_system";
    case PlannedRole::MsReserved:
      return "ms_reserved";
    case PlannedRole::MbrSystem:
      return "mbr_system";
    case PlannedRole::Recovery:
      return "recovery";
    case PlannedRole::Extended:
      return "extended";
    case PlannedRole::Data:
      break;
  }
  return "data";
}

// The plan as JSON: the disk as it was understood, then its table as
// sfdisk's JSON gives the table that the plan's script makes (its first
// usable sector aligned, as sfdisk sets it), each partition with what
// karvo-size adds beside sfdisk's members, what stays unallocated, and the
// rest's advice.
std::string PlanJson(const Disk& disk, const Plan& plan) {
  const bool gpt = plan.scheme == PartitionScheme::Gpt;
  JsonWriter json;
  json.Object("disk").Text("given", disk.path ? "path" : "size");
  if (disk.path) {
    json.Text("device", *disk.path);
  } else {
    json.Null("device");
  }
  json.Text("name", disk.name);
  json.Number("bytes", disk.bytes).Number("sectors", static_cast<std::int64_t>(plan.diskSectors));
  json.Number("sectorsize", plan.sectorBytes);
  WriteShows(json, disk.bytes);
  if (disk.holds.empty()) {
    json.Null("holds");
  } else {
    json.Text("holds", disk.holds);
  }
  json.End().Object("partitiontable").Text("label", SfdiskLabel(plan.scheme)).Text("unit", "sectors");
  if (gpt) {
    json.Number("firstlba", static_cast<std::int64_t>(AlignmentSectors(plan.sectorBytes)))
        .Number("lastlba", static_cast<std::int64_t>(plan.lastUsable));
  }
  json.Number("sectorsize", plan.sectorBytes).Array("partitions");
  int data = 0;
  const PlannedPartition* rest = nullptr;
  for (const PlannedPartition& partition : plan.partitions) {
    const std::string name = NamesOf(partition, data).gpt;
    SfdiskEntry entry;
    entry.scheme = plan.scheme;
    entry.number = partition.number;
    entry.start = partition.firstSector;
    entry.size = partition.sectors;
    entry.guid = partition.type->guid;
    entry.code = partition.type->code;
    entry.name = gpt ? std::string_view(name) : std::string_view();
    entry.bootable = partition.active;
    entry.attributes = partition.type->attributes;
    entry.kind = partition.type;
    json.Object();
    WriteSfdiskEntry(json, entry);
    json.Text("role", RoleName(partition.role)).Bool("logical", partition.logical);
    json.Number("start_mib", static_cast<std::int64_t>(partition.firstSector) * plan.sectorBytes / kBytesPerMiB);
    json.Number("size_mib", static_cast<std::int64_t>(partition.sectors) * plan.sectorBytes / kBytesPerMiB);
    if (partition.kind) {
      json.Text("fstype", FsType(*partition.kind));
    } else {
      json.Null("fstype");
    }
    if (partition.capacity != 0) {
      json.Number("capacity_gb", partition.capacity);
    } else {
      json.Null("capacity_gb");
    }
    json.Bool("rest", partition.rest);
    WriteFormatted(json, partition.formatted,
                   partition.capacity != 0 ? std::optional(partition.capacity) : std::nullopt);
    json.End();
    if (partition.rest) rest = &partition;
  }
  json.End().End();
  json.Number("unallocated_sectors", static_cast<std::int64_t>(plan.unallocatedSectors));
  if (rest == nullptr) {
    json.Null("rest");
  } else {
    json.Object("rest").Number("partn", rest->number).Text("advice", RestAdvice(*rest));
    if (rest->largestWholeGb != 0) {
      json.Number("most_whole_gb", rest->largestWholeGb);
    } else {
      json.Null("most_whole_gb");
    }
    json.End();
  }
  return json.Done();
}

}  // namespace

Result PrintPlan(const Request& request, SourceOpener open) {
  const std::int64_t givenSector = request.sectorBytes.value_or(kSectorBytes);
  Result failure;
  std::optional<Disk> disk;
  if (auto sized = ReadDiskSize(*request.planDisk, givenSector, failure)) {
    disk = Disk{sized->bytes, givenSector, std::move(sized->name), "", std::nullopt};
  } else if (failure.exitCode == 0) {
    disk = DiskOfPath(request, open, failure);
  }
  if (!disk) return failure;
  const auto asks = Asks(request, disk->sectorBytes, failure);
  if (!asks) return failure;
  PlanRequest planRequest;
  planRequest.diskBytes = disk->bytes;
  planRequest.sectorBytes = disk->sectorBytes;
  planRequest.scheme = request.mbr ? PartitionScheme::Mbr : PartitionScheme::Gpt;
  planRequest.windows = request.windows;
  planRequest.recoveryMiB = request.recoveryMiB.value_or(kRecoveryMiB);
  planRequest.asks = *asks;
  const PlanReading reading = PlanDisk(planRequest);
  if (!reading.plan) return Failure(disk->name + ": " + reading.problem);
  const Plan& plan = *reading.plan;
  if (request.csv) return {0, CsvText(plan), ""};
  if (request.json) return {0, PlanJson(*disk, plan), ""};
  if (request.sfdisk) return {0, SfdiskText(*disk, plan), ""};
  if (request.diskpartDisk) return {0, DiskpartText(request, *disk, plan), ""};
  std::string out = disk->name + ": " + Grouped(static_cast<std::int64_t>(plan.diskSectors)) + " sectors of " +
                    Number(disk->sectorBytes) + " bytes (" + Grouped(disk->bytes) + " bytes), Windows shows " +
                    std::string(ExplorerSizeText(disk->bytes).view()) + "\n";
  if (!disk->holds.empty()) out += disk->holds + "\n";
  return {0, out + TableText(plan), ""};
}

}  // namespace karvo::cli
