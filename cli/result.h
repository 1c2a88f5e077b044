// What every task of karvo-size answers with, and what it reads from: the
// result a platform's main prints, and the source its opener gives.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "disk/volume.h"
#include "disk/disk_bytes.h"

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
  std::string error;  // UTF-8, a line for each thing to say
};

// What the platform makes of the path that --inspect names.
struct Source {
  std::unique_ptr<DiskReader> reader;      // the file's or device's bytes
  std::optional<InspectedVolume> mounted;  // a volume as the system describes it (a Windows drive letter)
  std::string problem;                     // why it cannot be read (a directory, say)
  bool missing = false;                    // nothing is there by that name
  std::string partitionOf;                 // a device that is a partition of a disk: that disk's path
};
using SourceOpener = Source (*)(std::string_view path);

// One line on standard error, and the failure status.
Result Failure(std::string_view message);

// A line for standard error, with the program's name before it.
std::string ErrorLine(std::string_view message);

}  // namespace karvo::cli
