// karvo-size --inspect: what a volume holds, or a whole disk's partitions
// and what each holds, read from the source the platform opened.
#pragma once

#include "cli/options.h"

namespace karvo::cli {

// Reads the source `request.inspectPath` names, through `open`.
Result Inspect(const Request& request, SourceOpener open);

}  // namespace karvo::cli
