// libFuzzer target: any bytes as a capacity text, with any selection index.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/size_rounding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::int32_t index = 0;
  if (size >= sizeof index) {
    std::memcpy(&index, data, sizeof index);
    index %= 3;  // mostly the two real indices, sometimes one that names nothing
  }
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto message = karvo::BuildResultMessage(index, text);
  if ((index == 0 || index == 1) != message.has_value()) std::abort();
  if (message && (message->size() == 0 || message->size() >= karvo::ResultMessage::kCapacity - 1)) std::abort();
  return 0;
}
