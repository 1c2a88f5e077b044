// karvo-size: Karvo's answer on the command line, for scripts and for people
// who prepare disks from a terminal. The logic is here, free of any platform;
// each platform's main only hands over the arguments and prints the result.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/boot_sector.h"

namespace karvo::cli {

// Exit statuses besides 0, success.
// --inspect with a capacity: Windows does not show the volume as that many GB.
inline constexpr int kExitNotAsAsked = 1;
// A bad argument, a volume that cannot be read, a capacity no volume can
// have, or output that cannot be written.
inline constexpr int kExitFailed = 2;

struct Result {
  int exitCode = 0;
  std::string out;    // UTF-8
  std::string error;  // UTF-8, one line
};

// The first bytes of a volume, read by the platform's own means; or, for a
// mounted volume that the system describes itself (a Windows drive letter),
// that description.
// Reads bytes at an offset of the opened file or device; false when it cannot.
using VolumeReader = std::function<bool(std::int64_t offset, std::span<std::uint8_t> into)>;

struct VolumeStart {
  std::vector<std::uint8_t> bytes;          // up to 4 KiB from the start
  VolumeReader read;                        // the rest, for a whole disk's partitions
  std::optional<std::int64_t> sourceBytes;  // the file's or device's length, when known
  std::optional<InspectedVolume> mounted;   // as the system reports it; no bytes then
  std::string problem;                      // why it cannot be read (a directory, say)
};
using VolumeOpener = VolumeStart (*)(std::string_view path);

// The arguments without the program's name; `open` reads a volume for --inspect.
Result Run(std::span<const std::string_view> args, VolumeOpener open = nullptr);

}  // namespace karvo::cli
