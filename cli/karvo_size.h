// karvo-size: Karvo's answer on the command line, for scripts and for people
// who prepare disks from a terminal. The logic is here, free of any platform;
// each platform's main only hands over the arguments and prints the result.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace karvo::cli {

inline constexpr int kUsageError = 2;

struct Result {
  int exitCode = 0;
  std::string out;    // UTF-8
  std::string error;  // UTF-8, one line
};

// The arguments without the program's name.
Result Run(std::span<const std::string_view> args);

}  // namespace karvo::cli
