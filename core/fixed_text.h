// A short text in a fixed buffer on the stack: the program's texts are all
// small and bounded, so nothing here needs the heap.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace karvo {

template <std::size_t Capacity>
class FixedText {
 public:
  static constexpr std::size_t kCapacity = Capacity;

  constexpr FixedText() = default;
  constexpr explicit FixedText(std::string_view text) { Append(text); }

  // Appends as much of the text as fits; the text stays NUL-terminated.
  constexpr void Append(std::string_view text) {
    for (char c : text) {
      if (length_ + 1 >= Capacity) break;
      buffer_[length_++] = c;
    }
    buffer_[length_] = '\0';
  }

  constexpr std::string_view view() const { return {buffer_, length_}; }
  constexpr const char* c_str() const { return buffer_; }
  constexpr std::size_t size() const { return length_; }
  constexpr bool operator==(std::string_view other) const { return view() == other; }

 private:
  char buffer_[Capacity] = {};
  std::size_t length_ = 0;
};

// A number in decimal digits, as every text of the program writes numbers.
inline FixedText<24> Decimal(std::int64_t value) {
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return FixedText<24>(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

}  // namespace karvo
