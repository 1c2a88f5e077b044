// karvo-size's figures: one for each capacity asked, and the table of 1 to
// 300 GB beside what Windows shows for each.
#pragma once

#include "cli/options.h"

namespace karvo::cli {

// The figure for each capacity of the request, one a line.
Result Figures(const Request& request);

// For 1 to 300 GB, as columns, as CSV or as JSON.
Result Table(const Request& request);

}  // namespace karvo::cli
