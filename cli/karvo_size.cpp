#include "karvo_size.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/boot_sector.h"
#include "core/partition_table.h"
#include "core/size_rounding.h"
#include "core/volume_layout.h"

namespace karvo::cli {
namespace {

constexpr std::string_view kUsage =
    "Usage: karvo-size [--exact | --message] [FILE-SYSTEM] CAPACITY...\n"
    "       karvo-size --table | --csv\n"
    "       karvo-size --inspect PATH [CAPACITY]\n"
    "\n"
    "Prints how many MiB (mebibytes, 2^20 bytes) to give a partition so that,\n"
    "formatted, Windows shows it as a whole number of GB (GiB, 2^30 bytes): one\n"
    "figure a line, one line a capacity. Windows' Disk Management and diskpart,\n"
    "GParted and fdisk (+122885M) mean MiB by MB or M; parted's MB is 10^6 bytes,\n"
    "so give parted the figure as MiB.\n"
    "\n"
    "  FILE-SYSTEM        fat32 or ntfs, in any case (default: ntfs)\n"
    "  CAPACITY           whole GB (GiB): for FAT32 from 1 to 2047 (its volumes end\n"
    "                     at 2 TiB), for NTFS from 1 to 2097151\n"
    "  --fs FILE-SYSTEM   the same as a bare FILE-SYSTEM word; also --fs=FILE-SYSTEM\n"
    "  --message          print Karvo's own answer text instead of the bare figure\n"
    "  --exact            print the least size in MiB whose formatted capacity\n"
    "                     reaches the capacity (Windows' default layout: FAT32 with\n"
    "                     32 reserved sectors, two FATs and Microsoft's cluster\n"
    "                     sizes; NTFS with 4 KiB clusters, larger beyond 16 TiB)\n"
    "                     instead of Karvo's rule\n"
    "  --table            for 1 to 300 GB: Karvo's figure, what Windows shows for a\n"
    "                     partition of that size (* where that is not N GB), and the\n"
    "                     exact figure, per file system\n"
    "  --csv              the same table as CSV\n"
    "  --inspect PATH     read a FAT32 or NTFS volume (an image file, a device, or -\n"
    "                     for standard input; also --inspect=PATH; only its boot\n"
    "                     sector, read-only): file system, cluster size,\n"
    "                     capacity and how Windows shows it; with a CAPACITY, whether\n"
    "                     the volume reaches it and whether Windows shows it as that\n"
    "                     many GB; a whole disk: its partitions (MBR or GPT), each\n"
    "                     FAT32 or NTFS one inspected\n"
    "  --                 ends the options\n"
    "  --help, --version  this text; the version\n"
    "\n"
    "Example: karvo-size ntfs 120   prints 122885 (MiB)\n"
    "Exit status: 0 on success; 1 when Windows does not show an inspected volume as\n"
    "the capacity; 2 for a bad argument, a volume that cannot be read, a capacity that\n"
    "no volume of the file system can reach, or output that cannot be written.\n";

std::string_view Name(FileSystemKind kind) { return kind == FileSystemKind::Fat32 ? "FAT32" : "NTFS"; }

std::optional<FileSystemKind> ParseFileSystem(std::string_view word) {
  std::string lower(word);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (lower == "fat32") return FileSystemKind::Fat32;
  if (lower == "ntfs") return FileSystemKind::Ntfs;
  return std::nullopt;
}

std::string Number(std::int64_t value) { return std::string(karvo::Decimal(value).view()); }

std::string RangeText(FileSystemKind kind) {
  return "whole gigabytes from 1 to " + Number(MaxCapacity(kind)) + " for " + std::string(Name(kind));
}

// An argument as the user typed it, in quotes; a very long one is shortened.
std::string Quoted(std::string_view word) {
  constexpr std::size_t kLongest = 40;
  if (word.size() <= kLongest) return "\"" + std::string(word) + "\"";
  return "\"" + std::string(word.substr(0, kLongest - 3)) + "...\" (" + Number(static_cast<std::int64_t>(word.size())) +
         " characters)";
}

// One line on standard error, and the failure status.
Result Failure(const std::string& message) { return {kExitFailed, "", "karvo-size: " + message + "\n"}; }

// A capacity: decimal digits only (a leading '+' allowed), from 1 to the
// largest the file system's figure allows.
std::optional<std::int32_t> ParseCapacity(std::string_view word, FileSystemKind kind, Result& failure) {
  std::string_view digits = word;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  const bool negative = !digits.empty() && digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    failure = Failure(Quoted(word) + " is not a capacity: give " + RangeText(kind));
    return std::nullopt;
  }
  std::int64_t value = 0;
  for (char c : digits) value = value > MaxCapacity(kind) ? value : value * 10 + (c - '0');
  if (negative || value == 0) {
    failure = Failure(Quoted(word) + " is not a positive capacity: give " + RangeText(kind));
    return std::nullopt;
  }
  if (value > MaxCapacity(kind)) {
    failure = Failure(Quoted(word) + " is too large: give " + RangeText(kind));
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

// The size a partition of this many MiB has once formatted in Windows' default
// layout, as Explorer writes it and in bytes; "-" where no such volume exists.
std::string FormattedSizeText(FileSystemKind kind, std::int64_t megabytes) {
  const auto formatted = FormattedCapacity(kind, megabytes);
  return formatted ? std::string(ExplorerSizeText(formatted->TotalBytes()).view()) : "-";
}

std::string FormattedSizeBytes(FileSystemKind kind, std::int64_t megabytes) {
  const auto formatted = FormattedCapacity(kind, megabytes);
  return formatted ? Number(formatted->TotalBytes()) : "-";
}

std::string ExactText(FileSystemKind kind, std::int32_t capacity) {
  const auto exact = ExactMegabytes(kind, capacity);
  return exact ? Number(*exact) : "-";
}

// Whether Windows shows the volume made at the rule's figure as N GB.
bool RuleShowsCapacity(FileSystemKind kind, std::int32_t capacity) {
  const auto formatted = FormattedCapacity(kind, RoundedMegabytes(kind, capacity));
  return formatted && ExplorerShowsGigabytes(formatted->TotalBytes(), capacity);
}

// The table: a figure that Windows does not show as N GB is marked "*"; the
// CSV says it in columns of its own, after all the others.
std::string Table(bool csv) {
  auto column = [](const std::string& text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
  };
  const std::string figures = column("Windows shows", 16) + column("Exact (MiB)", 13);
  std::string out = csv ? "capacity_gb,fat32_mib,fat32_bytes,fat32_shows,fat32_exact_mib,"
                          "ntfs_mib,ntfs_bytes,ntfs_shows,ntfs_exact_mib,fat32_shows_capacity,ntfs_shows_capacity\n"
                        : column("Capacity (GB)", 13) + column("FAT32 (MiB)", 13) + figures + column("NTFS (MiB)", 13) +
                              figures + "\n";
  for (std::int32_t n = 1; n <= kCapacityCount; ++n) {
    std::string row = csv ? Number(n) : column(Number(n), 13);
    std::string verdicts;
    for (FileSystemKind kind : {FileSystemKind::Fat32, FileSystemKind::Ntfs}) {
      const std::int32_t rule = RoundedMegabytes(kind, n);
      const bool shows = RuleShowsCapacity(kind, n);
      if (csv) {
        row += "," + Number(rule) + "," + FormattedSizeBytes(kind, rule) + "," + FormattedSizeText(kind, rule) + "," +
               ExactText(kind, n);
        verdicts += shows ? ",yes" : ",no";
      } else {
        row += column(Number(rule), 13) + column(FormattedSizeText(kind, rule) + (shows ? " " : "*"), 16) +
               column(ExactText(kind, n), 13);
      }
    }
    out += row + verdicts + "\n";
  }
  return out;
}

// A volume's file system, cluster size, capacity and Explorer's text, a line each.
std::string VolumeLines(const InspectedVolume& volume, std::string_view indent) {
  const std::int64_t total = volume.capacity.TotalBytes();
  return std::string(indent) + "file system: " + std::string(Name(volume.kind)) + "\n" + std::string(indent) +
         "cluster size: " + Number(volume.capacity.clusterBytes) + " bytes\n" + std::string(indent) +
         "capacity: " + Number(total) + " bytes\n" + std::string(indent) +
         "Windows shows: " + std::string(ExplorerSizeText(total).view()) + "\n";
}

// A size in MiB: whole where it is, else with two decimals, cut.
std::string MiBText(std::int64_t bytes) {
  const std::int64_t hundredths = bytes / (kBytesPerMiB / 100);
  if (bytes % kBytesPerMiB == 0) return Number(bytes / kBytesPerMiB) + " MiB";
  return Number(hundredths / 100) + (hundredths % 100 < 10 ? ".0" : ".") + Number(hundredths % 100) + " MiB";
}

// The disk's reader, through the platform's own reading function.
class PlatformDisk final : public DiskReader {
 public:
  explicit PlatformDisk(const VolumeReader& read) : m_read(read) {}
  bool Read(std::int64_t offset, std::span<std::uint8_t> into) override { return m_read(offset, into); }

 private:
  const VolumeReader& m_read;
};

// A whole disk: each partition, and what each FAT32 or NTFS one holds.
Result ListPartitions(const PartitionTable& table, DiskReader& disk) {
  Result result;
  result.out = "partition table: " + std::string(table.scheme) + "\n";
  for (std::size_t i = 0; i < table.count; ++i) {
    const Partition& partition = table.partitions[i];
    result.out += "partition " + Number(partition.number) + ": start " + MiBText(partition.firstByte) + ", size " +
                  MiBText(partition.bytes) + ", type " + std::string(partition.type.view()) + "\n";
    if (partition.extended) continue;  // its logical partitions follow
    std::vector<std::uint8_t> start(static_cast<std::size_t>(std::min<std::int64_t>(4096, partition.bytes)));
    if (!disk.Read(partition.firstByte, start)) {
      result.out += "  cannot be read\n";
      continue;
    }
    const BootSectorReading reading = ReadBootSector(start, partition.bytes);
    result.out += reading.volume ? VolumeLines(*reading.volume, "  ") : "  " + std::string(reading.problem) + "\n";
  }
  return result;
}

Result Inspect(std::string_view path, std::optional<std::string_view> capacityWord, VolumeOpener open) {
  if (open == nullptr) return {kExitFailed, "", "karvo-size: cannot read volumes here\n"};
  const VolumeStart start = open(path);
  if (!start.problem.empty()) return Failure(std::string(path) + ": " + start.problem);
  const BootSectorReading reading =
      start.mounted ? BootSectorReading{start.mounted, {}} : ReadBootSector(start.bytes, start.sourceBytes);
  if (!reading.volume && start.read) {
    // Not a volume: perhaps a whole disk, or an image of one.
    PlatformDisk disk(start.read);
    const PartitionTableReading partitions = ReadPartitionTable(start.bytes, disk, start.sourceBytes);
    if (!partitions.problem.empty()) return Failure(std::string(path) + ": " + std::string(partitions.problem));
    if (partitions.table) {
      if (capacityWord) {
        return Failure(std::string(path) + " is a whole disk: a capacity goes with one partition's device or image");
      }
      return ListPartitions(*partitions.table, disk);
    }
  }
  if (!reading.volume) return Failure(std::string(path) + ": " + std::string(reading.problem));
  const InspectedVolume& volume = *reading.volume;
  Result result;
  std::optional<std::int32_t> capacity;
  if (capacityWord) {
    capacity = ParseCapacity(*capacityWord, volume.kind, result);
    if (!capacity) return result;
  }
  const std::int64_t total = volume.capacity.TotalBytes();
  result.out = VolumeLines(volume, "");
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

// What the command line asks for, with the words as the user typed them.
struct Request {
  std::optional<FileSystemKind> kind;
  std::vector<std::string_view> words;  // capacities, or whatever else is not an option
  std::string_view extra;               // the first word that does not go with --table or --inspect
  bool message = false;
  bool exact = false;
  std::optional<bool> tableAsCsv;
  std::optional<std::string_view> inspectPath;
};

// An option's value: after "=", or the next argument. None when it has none.
std::optional<std::string_view> OptionValue(std::span<const std::string_view> args, std::size_t& i,
                                            std::string_view name) {
  const std::string_view arg = args[i];
  if (arg.size() > name.size()) return arg.substr(name.size() + 1);  // --name=value
  if (i + 1 == args.size()) return std::nullopt;
  return args[++i];
}

bool IsOption(std::string_view arg, std::string_view name) {
  return arg == name || (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=');
}

// Reads the arguments into `request`; a result instead when they cannot be read.
std::optional<Result> Parse(std::span<const std::string_view> args, Request& request) {
  bool optionsEnded = false;
  std::string_view tableWord;
  std::string_view inspectWord;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    // "-" alone is a path (standard input), "-5" a capacity the checks refuse.
    const bool option = !optionsEnded && arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
    if (option && (arg == "--help" || arg == "-h")) return Result{0, std::string(kUsage), ""};
    if (option && arg == "--version") return Result{0, "karvo-size " KARVO_VERSION "\n", ""};
    if (option && arg == "--") {
      optionsEnded = true;
    } else if (option && arg == "--message") {
      request.message = true;
    } else if (option && arg == "--exact") {
      request.exact = true;
    } else if (option && (arg == "--table" || arg == "--csv")) {
      if (request.tableAsCsv) return Failure(Quoted(arg) + " after " + Quoted(tableWord) + ": give one of them");
      request.tableAsCsv = arg == "--csv";
      tableWord = arg;
    } else if (option && IsOption(arg, "--inspect")) {
      if (request.inspectPath) return Failure(Quoted(arg) + " after " + Quoted(inspectWord) + ": give one of them");
      inspectWord = arg;
      request.inspectPath = OptionValue(args, i, "--inspect");
      if (!request.inspectPath || request.inspectPath->empty()) {
        return Failure("--inspect needs the path of a volume or an image file (- for standard input)");
      }
    } else if (option && IsOption(arg, "--fs")) {
      const auto value = OptionValue(args, i, "--fs");
      if (!value) return Failure("--fs needs a file system: fat32 or ntfs");
      const auto named = ParseFileSystem(*value);
      if (!named) return Failure("unknown file system " + Quoted(*value) + ": use fat32 or ntfs");
      if (request.kind) return Failure(Quoted(*value) + " is one file system too many: give one");
      request.kind = named;
      if (request.extra.empty()) request.extra = *value;
    } else if (option) {
      return Failure("unknown option " + Quoted(arg) + ": see karvo-size --help");
    } else if (const auto named = ParseFileSystem(arg)) {
      if (request.kind) return Failure(Quoted(arg) + " is one file system too many: give one");
      request.kind = named;
      if (request.extra.empty()) request.extra = arg;
    } else {
      request.words.push_back(arg);
    }
  }
  if (request.extra.empty() && !request.words.empty()) request.extra = request.words.front();
  return std::nullopt;
}

// The figures, one a line, for each capacity asked.
Result Figures(const Request& request) {
  const FileSystemKind fileSystem = request.kind.value_or(FileSystemKind::Ntfs);
  if (request.words.empty()) return Failure("no capacity given: give " + RangeText(fileSystem));
  Result result;
  for (std::string_view word : request.words) {
    if (!word.empty() && ((word[0] >= 'a' && word[0] <= 'z') || (word[0] >= 'A' && word[0] <= 'Z'))) {
      return Failure("unknown file system " + Quoted(word) + ": use fat32 or ntfs");
    }
    const auto capacity = ParseCapacity(word, fileSystem, result);
    if (!capacity) return result;
    // A figure, the rule's or the exact one, only for a size that a volume of
    // this file system can have.
    const auto figure = ExactMegabytes(fileSystem, *capacity);
    if (!figure) {
      return Failure("no " + std::string(Name(fileSystem)) + " volume of Windows' default layout reaches " +
                     Number(*capacity) + " GB: FAT32 on 512-byte sectors ends at 2 TiB (2047 GB)");
    }
    if (request.message) {
      result.out += std::string(BuildResultMessage(static_cast<std::int32_t>(fileSystem), Number(*capacity))->view());
    } else if (request.exact) {
      result.out += Number(*figure);
    } else {
      result.out += Number(RoundedMegabytes(fileSystem, *capacity));
    }
    result.out += "\n";
  }
  return result;
}

}  // namespace

Result Run(std::span<const std::string_view> args, VolumeOpener open) {
  Request request;
  if (auto failure = Parse(args, request)) return *failure;
  if (request.message && request.exact) {
    return Failure("--message and --exact do not go together: Karvo's text gives its rule");
  }
  if (request.tableAsCsv) {
    if (request.message || request.exact || request.inspectPath || !request.extra.empty()) {
      const std::string_view extra = !request.extra.empty() ? request.extra
                                     : request.message      ? "--message"
                                     : request.exact        ? "--exact"
                                                            : "--inspect";
      return Failure(Quoted(extra) + " does not go with --table or --csv, which list 1 to 300 GB");
    }
    return {0, Table(*request.tableAsCsv), ""};
  }
  if (request.inspectPath) {
    if (request.kind || request.message || request.exact) {
      return Failure("--inspect reads the file system from the volume and takes only a capacity");
    }
    if (request.words.size() > 1) {
      return Failure(Quoted(request.words[1]) + " is one capacity too many for --inspect");
    }
    std::optional<std::string_view> capacityWord;
    if (!request.words.empty()) capacityWord = request.words.front();
    // What the user typed is checked before the volume is read; its range
    // waits for the file system.
    if (capacityWord && capacityWord->find_first_not_of("+-0123456789") != std::string_view::npos) {
      return Failure(Quoted(*capacityWord) + " is not a capacity: give whole gigabytes");
    }
    return Inspect(*request.inspectPath, capacityWord, open);
  }
  return Figures(request);
}

}  // namespace karvo::cli
