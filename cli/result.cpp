#include "cli/result.h"

namespace karvo::cli {

std::string ErrorLine(std::string_view message) { return "karvo-size: " + std::string(message) + "\n"; }

Result Failure(std::string_view message) { return {kExitFailed, "", ErrorLine(message)}; }

}  // namespace karvo::cli
