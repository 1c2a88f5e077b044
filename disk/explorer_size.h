// How Explorer writes a size, and whether that is the whole number of GB a
// user asked for: what "Windows shows" means wherever karvo-size says it.
#pragma once

#include <cstdint>

#include "core/fixed_text.h"

namespace karvo {

// A size as Explorer writes it (StrFormatByteSize): below 1,000 of a unit,
// three significant digits, cut rather than rounded, in units of 1,024:
// "532 bytes", "1.30 KB", "22.9 KB", "120 GB", "0.99 GB".
using SizeText = FixedText<24>;
SizeText ExplorerSizeText(std::int64_t bytes);

// Whether Explorer writes a size as exactly `gigabytes` GB ("120 GB", "8.0 GB"
// or "1.00 GB"): what a user who asked for that many means.
bool ExplorerShowsGigabytes(std::int64_t bytes, std::int32_t gigabytes);

// Whether Explorer writes a size in GB or a smaller unit: from 1,000 GB it
// writes TB, so that no size from there shows as N GB.
bool ExplorerShowsGigabytesOrLess(std::int64_t bytes);

}  // namespace karvo
