#include "size_rounding.h"

#include <iterator>
#include <limits>

namespace karvo {
namespace {

constexpr std::string_view kFat32Template = "您选择的格式为FAT32,分区容量为%dGB,实际容量应为 %d MB.";
constexpr std::string_view kNtfsTemplate = "您选择的格式为NTFS,分区容量为%dGB,实际容量应为 %d MB.";

struct Rule {
  std::int64_t factor;
  std::int64_t offset;
};

constexpr Rule RuleFor(FileSystemKind kind) { return kind == FileSystemKind::Fat32 ? Rule{1028, -4} : Rule{1024, 5}; }

constexpr bool IsAtoiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

constexpr std::int32_t ClampTo32(std::int64_t value) {
  constexpr std::int64_t lowest = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t highest = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value < lowest ? lowest : value > highest ? highest : value);
}

// printf's "%d" and nothing else: each "%d" in the format takes the next
// number, in plain signed decimal. Enough for the program's texts, with no
// variable arguments to get wrong and no C library formatter in the program.
template <typename Text, typename... Numbers>
Text FormatText(std::string_view format, Numbers... numbers) {
  const std::int32_t values[] = {numbers...};
  std::size_t next = 0;
  Text text;
  for (std::size_t pos = 0; pos < format.size(); ++pos) {
    const bool placeholder = format[pos] == '%' && pos + 1 < format.size() && format[pos + 1] == 'd';
    if (placeholder && next < std::size(values)) {
      text.Append(Decimal(values[next++]).view());
      ++pos;
    } else {
      text.Append(std::string_view(&format[pos], 1));
    }
  }
  return text;
}

}  // namespace

std::array<std::string_view, 2> FileSystemChoices() {
  return {FileSystemName(FileSystemKind::Fat32), FileSystemName(FileSystemKind::Ntfs)};
}

std::array<CapacityText, kCapacityCount> CapacityChoices() {
  std::array<CapacityText, kCapacityCount> choices;
  for (int i = 1; i <= kCapacityCount; ++i) {
    choices[i - 1] = FormatText<CapacityText>("%d", i);
  }
  return choices;
}

std::int32_t ParseCapacityText(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && IsAtoiSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  // Accumulate in 64 bits and stop growing once past the 32-bit range, so that
  // any number of digits stays defined.
  constexpr std::int64_t kBeyond = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 2;
  std::int64_t magnitude = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    if (magnitude < kBeyond) magnitude = magnitude * 10 + (text[pos] - '0');
  }
  return ClampTo32(negative ? -magnitude : magnitude);
}

std::int32_t RoundedMegabytes(FileSystemKind kind, std::int32_t capacity) {
  const Rule rule = RuleFor(kind);
  return ClampTo32(rule.factor * capacity + rule.offset);
}

std::optional<ResultMessage> BuildResultMessage(std::int32_t formatIndex, std::string_view capacityText) {
  if (formatIndex != 0 && formatIndex != 1) return std::nullopt;
  const auto kind = static_cast<FileSystemKind>(formatIndex);
  const std::int32_t capacity = ParseCapacityText(capacityText);
  const std::string_view format = kind == FileSystemKind::Fat32 ? kFat32Template : kNtfsTemplate;
  return FormatText<ResultMessage>(format, capacity, RoundedMegabytes(kind, capacity));
}

}  // namespace karvo
