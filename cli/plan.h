// karvo-size --plan: a whole disk laid out (disk/plan.h), printed as a
// table, as CSV, or as an sfdisk or a diskpart script.
#pragma once

#include "cli/options.h"

namespace karvo::cli {

Result PrintPlan(const Request& request, SourceOpener open);

}  // namespace karvo::cli
