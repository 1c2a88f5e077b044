#include "cli/result.h"

namespace karvo::cli {

std::string ErrorLine(std::string_view message) { return "karvo-size: " + std::string(message) + "\n"; }

}  // namespace karvo::cli
