// The arithmetic and the wording at the heart of Karvo: which file systems and
// capacities the user may pick, how a whole-gigabyte capacity becomes the
// megabyte figure for a partition, and the text of the answer.
// Free of any window system; texts are UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "fixed_text.h"

namespace karvo {

// Index of an entry in the format list.
enum class FileSystemKind : std::int32_t { Fat32 = 0, Ntfs = 1 };

inline constexpr int kCapacityCount = 300;

constexpr std::string_view FileSystemName(FileSystemKind kind) {
  return kind == FileSystemKind::Fat32 ? "FAT32" : "NTFS";
}

// "%d" of any 32-bit value fits in 12 bytes with its terminator.
using CapacityText = FixedText<12>;
// The longest answer (two 11-character numbers) is about 80 bytes of UTF-8.
using ResultMessage = FixedText<128>;

inline constexpr std::string_view ResultCaption = "计算结果";

std::array<std::string_view, 2> FileSystemChoices();
std::array<CapacityText, kCapacityCount> CapacityChoices();

// Decimal conversion as atoi does it. A number beyond 32 bits is clamped to
// INT32_MIN or INT32_MAX, as the Windows runtime documents for its atoi.
std::int32_t ParseCapacityText(std::string_view text);

// The largest capacity whose figure still fits in 32 bits.
constexpr std::int32_t MaxCapacity(FileSystemKind kind) { return kind == FileSystemKind::Fat32 ? 2088991 : 2097151; }

// Megabytes to give a partition of `capacity` gigabytes. Capacities whose
// figure would not fit in 32 bits give INT32_MIN or INT32_MAX.
std::int32_t RoundedMegabytes(FileSystemKind kind, std::int32_t capacity);

// The answer for a format-list selection index and a capacity text; no message
// for an index that names no file system (the text is then not looked at).
std::optional<ResultMessage> BuildResultMessage(std::int32_t formatIndex, std::string_view capacityText);

}  // namespace karvo
