// karvo-size: Karvo's answer on the command line, for scripts and for people
// who prepare disks from a terminal. The logic is here, free of any platform;
// each platform's main opens what --inspect names, hands over the arguments
// and prints the result.
#pragma once

#include <span>
#include <string_view>

#include "cli/result.h"

namespace karvo::cli {

// The arguments without the program's name; `open` opens a path for --inspect.
Result Run(std::span<const std::string_view> args, SourceOpener open = nullptr);

}  // namespace karvo::cli
