#include "cli/figures.h"

#include "cli/json_parts.h"
#include "core/size_rounding.h"
#include "disk/explorer_size.h"
#include "disk/file_system.h"
#include "disk/volume_layout.h"

namespace karvo::cli {
namespace {

// The size a partition of this many MiB has once formatted in Windows' default
// layout, as Explorer writes it and in bytes; "-" where no such volume exists.
std::string FormattedSizeText(FileSystem kind, std::int64_t megabytes) {
  const auto formatted = FormattedCapacity(kind, megabytes);
  return formatted ? std::string(ExplorerSizeText(formatted->TotalBytes()).view()) : "-";
}

std::string FormattedSizeBytes(FileSystem kind, std::int64_t megabytes) {
  const auto formatted = FormattedCapacity(kind, megabytes);
  return formatted ? Number(formatted->TotalBytes()) : "-";
}

std::string ExactText(FileSystem kind, std::int32_t capacity) {
  const auto exact = ExactMegabytes(kind, capacity);
  return exact ? Number(*exact) : "-";
}

// Whether Windows shows the volume made at a figure as N GB.
bool ShowsCapacity(FileSystem kind, std::int64_t megabytes, std::int32_t capacity) {
  const auto formatted = FormattedCapacity(kind, megabytes);
  return formatted && ExplorerShowsGigabytes(formatted->TotalBytes(), capacity);
}

// A figure in the JSON: its MiB, and what a partition of that size holds
// formatted and how Windows shows it; nulls where no such volume exists.
void WriteFigure(JsonWriter& json, std::string_view figure, std::int64_t megabytes,
                 const std::optional<VolumeCapacity>& formatted, std::int32_t capacity) {
  json.Text("figure", figure).Number("mib", megabytes);
  WriteFormatted(json, formatted, capacity);
}

}  // namespace

Result Figures(const Request& request) {
  const FileSystem fileSystem = request.kind.value_or(FileSystem::Ntfs);
  // exFAT has no rule: its figure is the exact one.
  const auto rule = RuleKind(fileSystem);
  const CapacityUse use = request.exact || !rule ? CapacityUse::Exact : CapacityUse::Rule;
  // Karvo's rule is one figure whatever the disk; the exact one is the sector's.
  if (request.sectorBytes && use == CapacityUse::Rule) {
    return Failure("--sector-size goes with --exact: Karvo's rule is for 512-byte sectors");
  }
  const std::int64_t sectorBytes = request.sectorBytes.value_or(kSectorBytes);
  if (request.words.empty()) {
    return Failure("no capacity given: give whole gigabytes from 1 to " +
                   Number(LargestCapacity(fileSystem, use, sectorBytes)) + " for " +
                   std::string(FileSystemName(fileSystem)));
  }
  Result result;
  JsonWriter json;
  json.Array("figures");
  std::string shownInTerabytes;  // from 1000 GB Explorer writes TB: what it shows of each such figure
  for (std::string_view word : request.words) {
    const auto capacity = CheckCapacity(word, fileSystem, use, result, sectorBytes);
    if (!capacity) return result;
    const auto exact = ExactMegabytes(fileSystem, *capacity, sectorBytes);
    const std::int32_t figure = use == CapacityUse::Rule ? RoundedMegabytes(*rule, *capacity) : exact.value_or(0);
    const auto formatted = FormattedCapacity(fileSystem, figure, sectorBytes);
    if (!exact || !formatted) {  // the range keeps every capacity clear of this
      return Failure("no " + std::string(FileSystemName(fileSystem)) + " volume of Windows' default layout reaches " +
                     Number(*capacity) + " GB");
    }
    if (request.json) {
      json.Object().Text("fstype", FsType(fileSystem)).Number("capacity_gb", *capacity);
      WriteFigure(json, use == CapacityUse::Rule ? "rule" : "exact", figure, formatted, *capacity);
      json.Number("sectorsize", sectorBytes).End();
    } else if (request.message && rule) {
      result.out += std::string(BuildResultMessage(static_cast<std::int32_t>(*rule), Number(*capacity))->view());
    } else {
      result.out += Number(figure);
    }
    if (!request.json) result.out += "\n";
    if (!ExplorerShowsGigabytesOrLess(formatted->TotalBytes())) {
      shownInTerabytes += (shownInTerabytes.empty() ? "" : ", ") + Number(*capacity) + " GB as " +
                          std::string(ExplorerSizeText(formatted->TotalBytes()).view());
    }
  }
  if (!shownInTerabytes.empty()) {
    result.error = ErrorLine("from 1000 GB Windows shows a size in TB, never as N GB: " + shownInTerabytes);
  }
  if (request.json) result.out = json.Done();
  return result;
}

// The table as JSON: each capacity, and for each file system its figure
// (Karvo's rule for FAT32 and NTFS, with the exact one beside it; exFAT's
// exact one), what Windows shows and whether that is the capacity.
Result TableJson() {
  JsonWriter json;
  json.Array("table");
  for (std::int32_t n = 1; n <= kCapacityCount; ++n) {
    json.Object().Number("capacity_gb", n);
    for (FileSystem kind : {FileSystem::Fat32, FileSystem::Ntfs, FileSystem::Exfat}) {
      const auto rule = RuleKind(kind);
      const auto exact = ExactMegabytes(kind, n);
      const std::int32_t figure = rule ? RoundedMegabytes(*rule, n) : exact.value_or(0);
      json.Object(FsType(kind));
      WriteFigure(json, rule ? "rule" : "exact", figure, FormattedCapacity(kind, figure), n);
      if (rule && exact) json.Number("exact_mib", *exact);
      if (rule && !exact) json.Null("exact_mib");
      json.End();
    }
    json.End();
  }
  return {0, json.Done(), ""};
}

Result Table(const Request& request) {
  if (request.json) return TableJson();
  const bool csv = request.csv;
  const auto column = [](const std::string& text, std::size_t width) { return Column(text, width, true); };
  const std::string figures = column("Windows shows", 16) + column("Exact (MiB)", 13);
  // exFAT's columns come last, so that a script reading the others finds them where they were.
  std::string out = csv ? "capacity_gb,fat32_mib,fat32_bytes,fat32_shows,fat32_exact_mib,"
                          "ntfs_mib,ntfs_bytes,ntfs_shows,ntfs_exact_mib,fat32_shows_capacity,ntfs_shows_capacity,"
                          "exfat_mib,exfat_bytes,exfat_shows,exfat_shows_capacity\n"
                        : column("Capacity (GB)", 13) + column("FAT32 (MiB)", 13) + figures + column("NTFS (MiB)", 13) +
                              figures + column("exFAT (MiB)", 13) + column("Windows shows", 16) + "\n";
  // A figure that Windows does not show as N GB is marked "*"; the CSV says
  // it in columns of its own, after all the others.
  for (std::int32_t n = 1; n <= kCapacityCount; ++n) {
    std::string row = csv ? Number(n) : column(Number(n), 13);
    std::string verdicts;
    for (FileSystem kind : {FileSystem::Fat32, FileSystem::Ntfs}) {
      const std::int32_t rule = RoundedMegabytes(*RuleKind(kind), n);
      const bool shows = ShowsCapacity(kind, rule, n);
      if (csv) {
        row += "," + Number(rule) + "," + FormattedSizeBytes(kind, rule) + "," + FormattedSizeText(kind, rule) + "," +
               ExactText(kind, n);
        verdicts += shows ? ",yes" : ",no";
      } else {
        row += column(Number(rule), 13) + column(FormattedSizeText(kind, rule) + (shows ? " " : "*"), 16) +
               column(ExactText(kind, n), 13);
      }
    }
    // exFAT's figure is its exact one.
    const std::int32_t exact = *ExactMegabytes(FileSystem::Exfat, n);
    const bool shows = ShowsCapacity(FileSystem::Exfat, exact, n);
    const std::string shown = FormattedSizeText(FileSystem::Exfat, exact);
    if (csv) {
      row += verdicts;
      row += "," + Number(exact) + "," + FormattedSizeBytes(FileSystem::Exfat, exact) + "," + shown;
      row += shows ? ",yes" : ",no";
    } else {
      row += column(Number(exact), 13) + column(shown + (shows ? " " : "*"), 16);
    }
    // The last column's blank, which marks no miss, ends no line.
    out += Trimmed(row);
  }
  return {0, out, ""};
}

}  // namespace karvo::cli
