// The pieces of karvo-size's JSON that more than one answer holds: what
// Windows shows of a size, a volume, and a partition as sfdisk's JSON
// writes one, with karvo-size's own keys beside sfdisk's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/json.h"
#include "disk/file_system.h"
#include "disk/partition_kind.h"
#include "disk/volume.h"

namespace karvo::cli {

// A file system as the JSON names it: the word karvo-size reads ("fat32").
std::string FsType(FileSystem kind);

// What Windows shows of `bytes` ("shows": "119 GB", "shows_value": 119,
// "shows_unit": "GB"), and with a capacity whether that is it.
void WriteShows(JsonWriter& json, std::int64_t bytes, std::optional<std::int32_t> capacity = std::nullopt);

// What a volume of `formatted` holds and how Windows shows it, and with a
// capacity whether that is it; nulls for no volume.
void WriteFormatted(JsonWriter& json, const std::optional<VolumeCapacity>& formatted,
                    std::optional<std::int32_t> capacity);

// A volume's file system, sectors, clusters and capacity, and what Windows shows.
void WriteVolume(JsonWriter& json, const InspectedVolume& volume);

// A partition's members that sfdisk's JSON has, in its order and as it
// writes them (an MBR type in hex without leading zeros, as "7"; a name,
// the boot flag and attributes only where there are), then the catalogue's
// name of its type.
struct SfdiskEntry {
  PartitionScheme scheme = PartitionScheme::Gpt;
  int number = 0;
  std::uint64_t start = 0;  // in sectors
  std::uint64_t size = 0;
  std::string_view guid;  // GPT
  std::uint8_t code = 0;  // MBR
  std::string_view name;
  bool bootable = false;
  std::uint64_t attributes = 0;
  const PartitionKind* kind = nullptr;
};
void WriteSfdiskEntry(JsonWriter& json, const SfdiskEntry& entry);

}  // namespace karvo::cli
