#include "cli/words.h"

#include <algorithm>
#include <array>
#include <climits>
#include <limits>

#include "cli/text.h"
#include "disk/plan.h"

namespace karvo::cli {
namespace {

std::string RangeText(std::optional<FileSystem> kind, CapacityUse use, std::int64_t sectorBytes) {
  if (!kind) return "give whole gigabytes";
  return "give whole gigabytes from 1 to " + Number(LargestCapacity(*kind, use, sectorBytes)) + " for " +
         std::string(FileSystemName(*kind));
}

// Why the range ends where it does.
std::string RangeEnd(FileSystem kind, CapacityUse use, std::int64_t sectorBytes) {
  if (kind == FileSystem::Ntfs) return " (the most whose figure in MiB fits in 32 bits)";
  if (kind == FileSystem::Exfat && use == CapacityUse::Inspected) {
    return " (the most an exFAT volume holds: 2^32 - 11 clusters of 32 MiB)";
  }
  if (kind == FileSystem::Exfat) return " (where mkfs.exfat's layout, with 128 KiB clusters, ends)";
  switch (use) {
    case CapacityUse::Rule:
      return " (FAT32 on 512-byte sectors ends at 2 TiB, and Karvo's figure for more is past it; --exact goes to " +
             LargestCapacityText(kind, CapacityUse::Exact) + ")";
    case CapacityUse::Exact:
      return sectorBytes == kSectorBytes ? " (FAT32 on 512-byte sectors ends at 2 TiB)"
                                         : " (FAT32 on 4096-byte sectors ends at 8 TiB: 2^28 clusters of 32 KiB)";
    case CapacityUse::Inspected:
      break;
  }
  return " (FAT32 ends at 16 TiB, on 4096-byte sectors)";
}

// A whole number and at most nine decimals, as "931.5"; false for anything else.
bool ReadDecimal(std::string_view text, std::int64_t& whole, std::int64_t& billionths) {
  const std::size_t point = text.find('.');
  const std::string_view integer = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  if (integer.empty() || integer.size() > 15 || fraction.size() > 9 ||
      (point != std::string_view::npos && fraction.empty()) ||
      (integer.find_first_not_of("0123456789") != std::string_view::npos) ||
      fraction.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  whole = 0;
  for (char c : integer) whole = whole * 10 + (c - '0');
  billionths = 0;
  for (std::size_t i = 0; i < 9; ++i) billionths = billionths * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
  return true;
}

}  // namespace

Result UnknownFileSystem(std::string_view word) {
  return Failure("unknown file system " + Quoted(word) + ": use fat32, ntfs or exfat");
}

std::string LargestCapacityText(FileSystem kind, CapacityUse use) { return Number(LargestCapacity(kind, use)); }

std::optional<FileSystem> ParseFileSystem(std::string_view word) {
  const std::string lower = Lowercase(word);
  if (lower == "fat32") return FileSystem::Fat32;
  if (lower == "ntfs") return FileSystem::Ntfs;
  if (lower == "exfat") return FileSystem::Exfat;
  return std::nullopt;
}

std::optional<std::int32_t> CheckCapacity(std::string_view word, std::optional<FileSystem> kind, CapacityUse use,
                                          Result& failure, std::int64_t sectorBytes) {
  // A word of letters among the figures' words is a file system misspelt.
  if (use != CapacityUse::Inspected && !word.empty() &&
      ((word[0] >= 'a' && word[0] <= 'z') || (word[0] >= 'A' && word[0] <= 'Z'))) {
    failure = UnknownFileSystem(word);
    return std::nullopt;
  }
  std::string_view digits = word;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  const bool negative = !digits.empty() && digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    failure = Failure(Quoted(word) + " is not a capacity: " + RangeText(kind, use, sectorBytes));
    return std::nullopt;
  }
  // Stops growing past the 32-bit range, so that any number of digits stays defined.
  constexpr std::int64_t kBeyond = std::int64_t{1} << 32;
  std::int64_t value = 0;
  for (char c : digits) value = value > kBeyond ? value : value * 10 + (c - '0');
  if (negative || value == 0) {
    failure = Failure(Quoted(word) + " is not a positive capacity: " + RangeText(kind, use, sectorBytes));
    return std::nullopt;
  }
  if (!kind) return static_cast<std::int32_t>(std::min<std::int64_t>(value, INT32_MAX));  // the range waits for it
  if (value > LargestCapacity(*kind, use, sectorBytes)) {
    failure = Failure(Quoted(word) + " is too large: " + RangeText(kind, use, sectorBytes) +
                      RangeEnd(*kind, use, sectorBytes));
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

std::optional<SizedDisk> ReadDiskSize(std::string_view word, std::int64_t sectorBytes, Result& failure) {
  struct Unit {
    std::string_view suffix;  // in lower case
    std::int64_t bytes;       // of a binary unit; of a decimal one, its GB
    bool decimal;
  };
  constexpr std::array<Unit, 7> kUnits = {{{"tib", std::int64_t{1} << 40, false},
                                           {"gib", std::int64_t{1} << 30, false},
                                           {"mib", std::int64_t{1} << 20, false},
                                           {"kib", std::int64_t{1} << 10, false},
                                           {"tb", 1000, true},
                                           {"gb", 1, true},
                                           {"", 1, false}}};
  constexpr std::int64_t kMostBytes = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kBytesPerGB = 1000000000;
  const std::string lower = Lowercase(word);
  const auto tooLarge = [&] {
    failure = Failure(Quoted(word) + " is too large: karvo-size plans disks of less than 2^63 bytes (8 EiB)");
    return std::nullopt;
  };
  for (const Unit& unit : kUnits) {
    if (!std::string_view(lower).ends_with(unit.suffix)) continue;
    std::string_view number = std::string_view(word).substr(0, word.size() - unit.suffix.size());
    if (!unit.suffix.empty() && number.ends_with(' ')) number.remove_suffix(1);
    std::int64_t whole = 0;
    std::int64_t billionths = 0;
    if (!ReadDecimal(number, whole, billionths)) break;
    SizedDisk disk;
    disk.name = word;
    if (unit.decimal) {
      // Whole decimal GB: 1.5TB is 1500 GB, 1.2345TB is no drive's size.
      if (billionths * unit.bytes % kBytesPerGB != 0) break;
      const std::int64_t gigabytes = whole * unit.bytes + billionths * unit.bytes / kBytesPerGB;
      const auto sectors = DriveSectors(gigabytes, sectorBytes);
      if (gigabytes >= 50 && !sectors) return tooLarge();  // its bytes past 63 bits
      disk.bytes = sectors ? static_cast<std::int64_t>(*sectors) * sectorBytes : gigabytes * kBytesPerGB;
      disk.name = std::string(number) + (unit.bytes == 1 ? " GB" : " TB") + " drive";
    } else {
      // A binary unit's fraction, exactly: its bytes are a multiple of 512,
      // and a billion is 512 times 1,953,125.
      if (unit.bytes == 1 && billionths != 0) break;
      const std::int64_t fraction = unit.bytes == 1 ? 0 : billionths * (unit.bytes / 512) / 1953125;
      if (whole > (kMostBytes - fraction) / unit.bytes) return tooLarge();
      disk.bytes = whole * unit.bytes + fraction;
    }
    disk.bytes -= disk.bytes % sectorBytes;
    return disk;
  }
  // A unit's letter alone: sfdisk reads 1T as TiB, a drive's box means TB.
  if (!lower.empty() && std::string_view("kmgt").find(lower.back()) != std::string_view::npos) {
    std::int64_t whole = 0;
    std::int64_t billionths = 0;
    if (ReadDecimal(std::string_view(word).substr(0, word.size() - 1), whole, billionths)) {
      const std::string number(word.substr(0, word.size() - 1));
      const char letter = static_cast<char>(lower.back() - 'a' + 'A');
      failure = Failure(Quoted(word) + " is ambiguous: give " + number + letter +
                        "B (decimal, as drives are sold) or " + number + letter + "iB (binary)");
    }
  }
  return std::nullopt;
}

}  // namespace karvo::cli
