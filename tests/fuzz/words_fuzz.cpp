// libFuzzer target: any list of words, as karvo-size's arguments. The input's
// NUL bytes part the words. Every path opens one disk held in memory, the
// input's own bytes, and nothing outside: the parser, the figures, the
// inspector and the planner with its writers run as they run for a user.
// Each answer must be sound: a known status, a refusal with nothing on
// standard output, every line ended, no negative number in a script, and
// no raw control character in JSON.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "cli/karvo_size.h"
#include "support/memory_disk.h"

namespace {

std::span<const std::uint8_t> g_disk;

karvo::cli::Source OpenInMemory(std::string_view) {
  karvo::cli::Source source;
  source.reader = std::make_unique<karvo::fixtures::MemoryDisk>(g_disk);
  return source;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  g_disk = std::span(data, size);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> words;
  for (std::size_t at = 0; at <= text.size() && words.size() < 64;) {
    const std::size_t end = std::min(text.find('\0', at), text.size());
    words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  const karvo::cli::Result result = karvo::cli::Run(words, &OpenInMemory);
  if (result.exitCode < 0 || result.exitCode > karvo::cli::kExitFailed) std::abort();
  if (!result.error.empty() && !result.error.ends_with('\n')) std::abort();
  if (!result.out.empty() && !result.out.ends_with('\n')) std::abort();
  if (result.exitCode == karvo::cli::kExitFailed && result.error.empty()) std::abort();
  // JSON escapes every control character in its strings: only line ends are raw.
  if (result.out.starts_with('{') &&
      std::any_of(result.out.begin(), result.out.end(), [](char c) { return c >= 0 && c < 0x20 && c != '\n'; })) {
    std::abort();
  }
  // Sectors, sizes and offsets in the scripts are never negative.
  for (std::string_view key : {"start=-", "size=-", "offset=-"}) {
    if (result.out.find(key) != std::string_view::npos) std::abort();
  }
  return 0;
}
