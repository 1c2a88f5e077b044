// The words karvo-size reads besides its options: a file system, a
// capacity, and a disk's size; each checked here and nowhere else, and
// refused in one line that names the word as the user typed it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/result.h"
#include "disk/volume_layout.h"

namespace karvo::cli {

std::optional<FileSystem> ParseFileSystem(std::string_view word);
Result UnknownFileSystem(std::string_view word);

// A capacity word: whole GB, digits with a leading '+' allowed, from 1 to the
// largest for its use and file system. With no file system yet (a volume not
// read yet), only the digits are checked. None, and `failure` set, when it
// will not do.
std::optional<std::int32_t> CheckCapacity(std::string_view word, std::optional<FileSystem> kind, CapacityUse use,
                                          Result& failure, std::int64_t sectorBytes = kSectorBytes);
// The largest capacity of a use, as the help says it.
std::string LargestCapacityText(FileSystem kind, CapacityUse use);

// A disk's size as the user wrote it, in whole sectors, and how the plan names it.
struct SizedDisk {
  std::int64_t bytes = 0;
  std::string name;  // "1 TB drive", or the word as typed
};
// A drive maker's GB or TB (the drive's standard sectors from 50 GB), binary
// units or bytes, the units in any case, a blank before them allowed. None
// with `failure` set for a size that will not do; none and no failure for a
// word that is no size (a path, perhaps).
std::optional<SizedDisk> ReadDiskSize(std::string_view word, std::int64_t sectorBytes, Result& failure);

}  // namespace karvo::cli
