// karvo-size on Linux and other POSIX systems: UTF-8 in, UTF-8 out.
#include <cstdio>
#include <string_view>
#include <vector>

#include "karvo_size.h"

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const karvo::cli::Result result = karvo::cli::Run(args);
  std::fwrite(result.out.data(), 1, result.out.size(), stdout);
  std::fwrite(result.error.data(), 1, result.error.size(), stderr);
  return result.exitCode;
}
