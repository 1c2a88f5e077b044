#include "karvo_size.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/size_rounding.h"

namespace karvo::cli {
namespace {

constexpr std::string_view kUsage =
    "Usage: karvo-size [FILE-SYSTEM] CAPACITY...\n"
    "       karvo-size --table | --csv\n"
    "\n"
    "Prints how many megabytes to give a partition so that, formatted, it comes\n"
    "out as a whole number of gigabytes: one figure a line, one line a capacity.\n"
    "\n"
    "  FILE-SYSTEM        fat32 or ntfs, in any case (default: ntfs)\n"
    "  CAPACITY           whole gigabytes, from 1 to 2088991 (FAT32) or 2097151 (NTFS)\n"
    "  --fs FILE-SYSTEM   the same as a bare FILE-SYSTEM word\n"
    "  --message          print Karvo's own answer text instead of the bare figure\n"
    "  --table            capacity, FAT32 and NTFS figures for 1 to 300 GB, in columns\n"
    "  --csv              the same table as CSV\n"
    "  --help, --version  this text; the version\n"
    "\n"
    "Example: karvo-size ntfs 120   prints 122885\n"
    "Exit status: 0 on success, 2 for a bad argument.\n";

std::string_view Name(FileSystemKind kind) { return kind == FileSystemKind::Fat32 ? "FAT32" : "NTFS"; }

std::optional<FileSystemKind> ParseFileSystem(std::string_view word) {
  std::string lower(word);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (lower == "fat32") return FileSystemKind::Fat32;
  if (lower == "ntfs") return FileSystemKind::Ntfs;
  return std::nullopt;
}

std::string Number(std::int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return std::string(digits, end);
}

std::string RangeText(FileSystemKind kind) {
  return "whole gigabytes from 1 to " + Number(MaxCapacity(kind)) + " for " + std::string(Name(kind));
}

Result UsageError(std::string message) { return {kUsageError, "", "karvo-size: " + message + "\n"}; }

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

std::string Table(bool csv) {
  std::string out = csv ? "capacity_gb,fat32_mb,ntfs_mb\n" : "Capacity (GB)  FAT32 (MB)  NTFS (MB)\n";
  auto column = [](const std::string& text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
  };
  for (std::int32_t n = 1; n <= kCapacityCount; ++n) {
    const std::string capacity = Number(n);
    const std::string fat32 = Number(RoundedMegabytes(FileSystemKind::Fat32, n));
    const std::string ntfs = Number(RoundedMegabytes(FileSystemKind::Ntfs, n));
    out += csv ? capacity + "," + fat32 + "," + ntfs + "\n"
               : column(capacity, 13) + column(fat32, 12) + column(ntfs, 11) + "\n";
  }
  return out;
}

}  // namespace

Result Run(std::span<const std::string_view> args) {
  std::optional<FileSystemKind> kind;
  std::vector<std::string_view> capacityWords;
  bool message = false;
  std::optional<bool> tableAsCsv;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") return {0, std::string(kUsage), ""};
    if (arg == "--version") return {0, "karvo-size 1.0.0\n", ""};
    if (arg == "--message") {
      message = true;
    } else if (arg == "--table" || arg == "--csv") {
      tableAsCsv = arg == "--csv";
    } else if (arg == "--fs" || arg.starts_with("--fs=")) {
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
    } else if (arg.starts_with("--")) {
      return UsageError("unknown option \"" + std::string(arg) + "\": see karvo-size --help");
    } else if (!arg.empty() && ((arg[0] >= 'a' && arg[0] <= 'z') || (arg[0] >= 'A' && arg[0] <= 'Z'))) {
      return UsageError("unknown file system \"" + std::string(arg) + "\": use fat32 or ntfs");
    } else {
      capacityWords.push_back(arg);
    }
  }

  if (tableAsCsv) {
    if (!capacityWords.empty() || kind || message) {
      const std::string extra =
          capacityWords.empty() ? (kind ? std::string(Name(*kind)) : "--message") : std::string(capacityWords.front());
      return UsageError("\"" + extra + "\" does not go with --table or --csv, which list 1 to 300 GB");
    }
    return {0, Table(*tableAsCsv), ""};
  }

  const FileSystemKind fileSystem = kind.value_or(FileSystemKind::Ntfs);
  if (capacityWords.empty()) return UsageError("no capacity given: give " + RangeText(fileSystem));

  Result result;
  for (std::string_view word : capacityWords) {
    const auto capacity = ParseCapacity(word, fileSystem, result);
    if (!capacity) return result;
    if (message) {
      result.out += std::string(BuildResultMessage(static_cast<std::int32_t>(fileSystem), Number(*capacity))->view());
    } else {
      result.out += Number(RoundedMegabytes(fileSystem, *capacity));
    }
    result.out += "\n";
  }
  return result;
}

}  // namespace karvo::cli
