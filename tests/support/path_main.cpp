// The main() of the Windows test programs that take a path before
// GoogleTest's own options.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/wine_path.h"

namespace {
std::wstring g_path;
}  // namespace

const std::wstring& testing_support::PathArgument() { return g_path; }

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH [GoogleTest options]\n", argv[0]);
    return 2;
  }
  g_path = testing_support::WindowsPath(argv[1]);
  return RUN_ALL_TESTS();
}
