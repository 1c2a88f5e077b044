#include "karvo_size.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/boot_sector.h"
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
    "  --fs FILE-SYSTEM   the same as a bare FILE-SYSTEM word\n"
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
    "  --inspect PATH     read a FAT32 or NTFS volume (an image file or a device; only\n"
    "                     its boot sector, read-only): file system, cluster size,\n"
    "                     capacity and how Windows shows it; with a CAPACITY, whether\n"
    "                     the volume reaches it and whether Windows shows it as that\n"
    "                     many GB\n"
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

Result UsageError(const std::string& message) { return {kUsageError, "", "karvo-size: " + message + "\n"}; }

// A capacity: decimal digits only (a leading '+' allowed), from 1 to the
// largest the file system's figure allows.
std::optional<std::int32_t> ParseCapacity(std::string_view word, FileSystemKind kind, Result& failure) {
  std::string_view digits = word;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  const bool negative = !digits.empty() && digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    failure = UsageError("\"" + std::string(word) + "\" is not a capacity: give " + RangeText(kind));
    return std::nullopt;
  }
  std::int64_t value = 0;
  for (char c : digits) value = value > MaxCapacity(kind) ? value : value * 10 + (c - '0');
  if (negative || value == 0) {
    failure = UsageError("\"" + std::string(word) + "\" is not a positive capacity: give " + RangeText(kind));
    return std::nullopt;
  }
  if (value > MaxCapacity(kind)) {
    failure = UsageError("\"" + std::string(word) + "\" is too large: give " + RangeText(kind));
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

Result Inspect(std::string_view path, std::optional<std::string_view> capacityWord, VolumeOpener open) {
  if (open == nullptr) return {kUsageError, "", "karvo-size: cannot read volumes here\n"};
  const VolumeStart start = open(path);
  if (!start.problem.empty())
    return {kUsageError, "", "karvo-size: " + std::string(path) + ": " + start.problem + "\n"};
  const BootSectorReading reading = ReadBootSector(start.bytes, start.sourceBytes);
  if (!reading.volume) {
    return {kUsageError, "", "karvo-size: " + std::string(path) + ": " + std::string(reading.problem) + "\n"};
  }
  const InspectedVolume& volume = *reading.volume;
  Result result;
  std::optional<std::int32_t> capacity;
  if (capacityWord) {
    capacity = ParseCapacity(*capacityWord, volume.kind, result);
    if (!capacity) return result;
  }
  const std::int64_t total = volume.capacity.TotalBytes();
  result.out = "file system: " + std::string(Name(volume.kind)) + "\n" +
               "cluster size: " + Number(volume.capacity.clusterBytes) + " bytes\n" + "capacity: " + Number(total) +
               " bytes\n" + "Windows shows: " + std::string(ExplorerSizeText(total).view()) + "\n";
  if (capacity) {
    const std::int64_t wanted = *capacity * kBytesPerGiB;
    result.out += "reaches " + Number(*capacity) + " GB: ";
    result.out += total >= wanted ? "yes\n" : "no, " + Number(wanted - total) + " bytes short\n";
    // What the user is after: Explorer's own text, which reaching N GiB does
    // not settle (N GiB and a little more can show as N + 1 GB).
    const bool showsN = ExplorerShowsGigabytes(total, *capacity);
    result.out += "Windows shows " + Number(*capacity) +
                  " GB: " + (showsN ? "yes\n" : "no, it shows " + std::string(ExplorerSizeText(total).view()) + "\n");
    if (!showsN) result.exitCode = kNotReached;
  }
  return result;
}

}  // namespace

Result Run(std::span<const std::string_view> args, VolumeOpener open) {
  std::optional<FileSystemKind> kind;
  std::vector<std::string_view> capacityWords;
  bool message = false;
  bool exact = false;
  bool optionsEnded = false;
  std::optional<bool> tableAsCsv;
  std::optional<std::string_view> inspectPath;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const bool option = !optionsEnded && arg.starts_with("--");
    if (!optionsEnded && (arg == "--help" || arg == "-h")) return {0, std::string(kUsage), ""};
    if (option && arg == "--version") return {0, "karvo-size " KARVO_VERSION "\n", ""};
    if (option && arg == "--") {
      optionsEnded = true;
    } else if (option && arg == "--message") {
      message = true;
    } else if (option && arg == "--exact") {
      exact = true;
    } else if (option && (arg == "--table" || arg == "--csv")) {
      tableAsCsv = arg == "--csv";
    } else if (option && (arg == "--inspect" || arg.starts_with("--inspect="))) {
      if (arg == "--inspect") {
        if (i + 1 == args.size()) return UsageError("--inspect needs the path of a volume or an image file");
        inspectPath = args[++i];
      } else {
        inspectPath = arg.substr(10);
      }
    } else if (option && (arg == "--fs" || arg.starts_with("--fs="))) {
      std::string_view value;
      if (arg == "--fs") {
        if (i + 1 == args.size()) return UsageError("--fs needs a file system: fat32 or ntfs");
        value = args[++i];
      } else {
        value = arg.substr(5);
      }
      const auto named = ParseFileSystem(value);
      if (!named) return UsageError("unknown file system \"" + std::string(value) + "\": use fat32 or ntfs");
      if (kind) return UsageError("\"" + std::string(arg) + "\" is one file system too many: give one");
      kind = named;
    } else if (const auto named = ParseFileSystem(arg)) {
      if (kind) return UsageError("\"" + std::string(arg) + "\" is one file system too many: give one");
      kind = named;
    } else if (option) {
      return UsageError("unknown option \"" + std::string(arg) + "\": see karvo-size --help");
    } else if (!arg.empty() && ((arg[0] >= 'a' && arg[0] <= 'z') || (arg[0] >= 'A' && arg[0] <= 'Z'))) {
      return UsageError("unknown file system \"" + std::string(arg) + "\": use fat32 or ntfs");
    } else {
      capacityWords.push_back(arg);
    }
  }

  if (message && exact) return UsageError("--message and --exact do not go together: Karvo's text gives its rule");
  if (tableAsCsv) {
    if (!capacityWords.empty() || kind || message || exact || inspectPath) {
      const std::string extra = !capacityWords.empty() ? std::string(capacityWords.front())
                                : kind                 ? std::string(Name(*kind))
                                : message              ? "--message"
                                : exact                ? "--exact"
                                                       : "--inspect";
      return UsageError("\"" + extra + "\" does not go with --table or --csv, which list 1 to 300 GB");
    }
    return {0, Table(*tableAsCsv), ""};
  }

  if (inspectPath) {
    if (kind || message || exact) {
      return UsageError("--inspect reads the file system from the volume and takes only a capacity");
    }
    if (capacityWords.size() > 1) {
      return UsageError("\"" + std::string(capacityWords[1]) + "\" is one capacity too many for --inspect");
    }
    std::optional<std::string_view> capacityWord;
    if (!capacityWords.empty()) capacityWord = capacityWords.front();
    return Inspect(*inspectPath, capacityWord, open);
  }

  const FileSystemKind fileSystem = kind.value_or(FileSystemKind::Ntfs);
  if (capacityWords.empty()) return UsageError("no capacity given: give " + RangeText(fileSystem));

  Result result;
  for (std::string_view word : capacityWords) {
    const auto capacity = ParseCapacity(word, fileSystem, result);
    if (!capacity) return result;
    // A figure, the rule's or the exact one, only for a size that a volume of
    // this file system can have.
    const auto figure = ExactMegabytes(fileSystem, *capacity);
    if (!figure) {
      return UsageError("no " + std::string(Name(fileSystem)) + " volume of Windows' default layout reaches " +
                        Number(*capacity) + " GB: FAT32 on 512-byte sectors ends at 2 TiB (2047 GB)");
    }
    if (message) {
      result.out += std::string(BuildResultMessage(static_cast<std::int32_t>(fileSystem), Number(*capacity))->view());
    } else if (exact) {
      result.out += Number(*figure);
    } else {
      result.out += Number(RoundedMegabytes(fileSystem, *capacity));
    }
    result.out += "\n";
  }
  return result;
}

}  // namespace karvo::cli
