// Paths handed to a test program on its command line come from CMake as Unix
// paths; under Wine the Unix root is drive Z:.
#pragma once

#include <algorithm>
#include <string>

namespace testing_support {

inline std::wstring WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return std::wstring(path.begin(), path.end());
}

// The path that a test program takes first (the program under test, or a
// folder of its copies), as Windows names it; support/path_main.cpp holds the
// main() that takes it.
const std::wstring& PathArgument();

}  // namespace testing_support
