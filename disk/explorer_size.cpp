#include "disk/explorer_size.h"

#include <string_view>

namespace karvo {
namespace {

// floor(bytes * scale / 2^shift), exactly, for any non-negative 64-bit size,
// a scale of at most 100 and a shift of at least 10 (a kibibyte). The size is
// split at 2^32 so that no product leaves 64 bits.
constexpr std::int64_t ScaledDown(std::int64_t bytes, std::int64_t scale, int shift) {
  const std::int64_t high = (bytes >> 32) * scale;        // below 2^38
  const std::int64_t low = (bytes & 0xFFFFFFFF) * scale;  // below 2^39
  if (shift >= 32) return (high + (low >> 32)) >> (shift - 32);
  return (high << (32 - shift)) + (low >> shift);  // below 2^60
}

}  // namespace

SizeText ExplorerSizeText(std::int64_t bytes) {
  SizeText text;
  if (bytes < 1024) {
    text.Append(Decimal(bytes).view());
    text.Append(" bytes");
    return text;
  }
  constexpr std::string_view kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  int unit = 0;
  // The first unit in which the size is below 1,000: 1,000 KB is "0.97 MB".
  while (unit + 1 < 6 && ScaledDown(bytes, 1, 10 * (unit + 1)) >= 1000) ++unit;
  const int shift = 10 * (unit + 1);
  const std::int64_t hundredths = ScaledDown(bytes, 100, shift);
  if (hundredths < 1000) {  // below 10: two decimals
    text.Append(Decimal(hundredths / 100).view());
    text.Append(hundredths % 100 < 10 ? ".0" : ".");
    text.Append(Decimal(hundredths % 100).view());
  } else if (hundredths < 10000) {  // below 100: one decimal
    const std::int64_t tenths = ScaledDown(bytes, 10, shift);
    text.Append(Decimal(tenths / 10).view());
    text.Append(".");
    text.Append(Decimal(tenths % 10).view());
  } else {
    text.Append(Decimal(ScaledDown(bytes, 1, shift)).view());
  }
  text.Append(" ");
  text.Append(kUnits[unit]);
  return text;
}

bool ExplorerShowsGigabytes(std::int64_t bytes, std::int32_t gigabytes) {
  const SizeText shown = ExplorerSizeText(bytes);
  FixedText<24> whole(Decimal(gigabytes).view());
  for (std::string_view decimals : {"", ".0", ".00"}) {
    FixedText<24> text = whole;
    text.Append(decimals);
    text.Append(" GB");
    if (shown.view() == text.view()) return true;
  }
  return false;
}

bool ExplorerShowsGigabytesOrLess(std::int64_t bytes) { return ScaledDown(bytes, 1, 30) < 1000; }

}  // namespace karvo
