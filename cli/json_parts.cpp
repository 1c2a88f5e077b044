#include "cli/json_parts.h"

#include "cli/text.h"
#include "disk/explorer_size.h"

namespace karvo::cli {

std::string FsType(FileSystem kind) { return Lowercase(FileSystemName(kind)); }

void WriteShows(JsonWriter& json, std::int64_t bytes, std::optional<std::int32_t> capacity) {
  const SizeText shown = ExplorerSizeText(bytes);
  const std::string_view text = shown.view();
  const std::size_t blank = text.find(' ');
  json.Text("shows", text).Decimal("shows_value", text.substr(0, blank)).Text("shows_unit", text.substr(blank + 1));
  if (capacity) json.Bool("shows_capacity", ExplorerShowsGigabytes(bytes, *capacity));
}

void WriteFormatted(JsonWriter& json, const std::optional<VolumeCapacity>& formatted,
                    std::optional<std::int32_t> capacity) {
  if (formatted) {
    json.Number("capacity_bytes", formatted->TotalBytes());
    WriteShows(json, formatted->TotalBytes(), capacity);
    return;
  }
  for (std::string_view key : {"capacity_bytes", "shows", "shows_value", "shows_unit"}) json.Null(key);
  if (capacity) json.Null("shows_capacity");
}

void WriteVolume(JsonWriter& json, const InspectedVolume& volume) {
  json.Text("fstype", FsType(volume.kind))
      .Number("sectorsize", volume.bytesPerSector)
      .Number("cluster_bytes", volume.capacity.clusterBytes)
      .Number("clusters", volume.capacity.clusters)
      .Number("volume_bytes", volume.volumeBytes)
      .Number("capacity_bytes", volume.capacity.TotalBytes());
  WriteShows(json, volume.capacity.TotalBytes());
}

void WriteSfdiskEntry(JsonWriter& json, const SfdiskEntry& entry) {
  constexpr std::string_view kHex = "0123456789abcdef";
  std::string code;
  if (entry.code >= 0x10) code += kHex[entry.code >> 4];
  code += kHex[entry.code & 0xF];
  const bool gpt = entry.scheme == PartitionScheme::Gpt;
  json.Number("partn", entry.number)
      .Number("start", static_cast<std::int64_t>(entry.start))
      .Number("size", static_cast<std::int64_t>(entry.size))
      .Text("type", gpt ? entry.guid : code);
  if (!entry.name.empty()) json.Text("name", entry.name);
  if (entry.bootable) json.Bool("bootable", true);
  if (entry.attributes != 0) json.Text("attrs", GptAttributesText(entry.attributes));
  if (entry.kind != nullptr) {
    json.Text("parttypename", entry.kind->name);
  } else {
    json.Null("parttypename");
  }
}

}  // namespace karvo::cli
