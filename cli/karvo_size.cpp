#include "cli/karvo_size.h"

#include "cli/figures.h"
#include "cli/inspect.h"
#include "cli/options.h"

namespace karvo::cli {

Result Run(std::span<const std::string_view> args, SourceOpener open) {
  Request request;
  if (auto finished = Parse(args, request)) return *finished;
  if (request.message && request.exact) {
    return Failure("--message and --exact do not go together: Karvo's text gives its rule");
  }
  if (request.tableAsCsv) {
    const std::string_view extra = !request.extra.empty() ? request.extra
                                   : request.message      ? "--message"
                                   : request.exact        ? "--exact"
                                   : request.inspectPath  ? "--inspect"
                                   : request.partition    ? "--partno"
                                   : request.sectorBytes  ? "--sector-size"
                                                          : "";
    if (!extra.empty()) return Failure(Quoted(extra) + " does not go with --table or --csv, which list 1 to 300 GB");
    return Table(*request.tableAsCsv);
  }
  if (request.inspectPath) {
    if (request.kind || request.message || request.exact) {
      return Failure("--inspect reads the file system from the volume and takes only a capacity");
    }
    if (request.words.size() > 1) {
      return Failure(Quoted(request.words[1]) + " is one capacity too many for --inspect");
    }
    // What the user typed is checked before the volume is read; its range
    // waits for the file system.
    Result failure;
    if (!request.words.empty() &&
        !CheckCapacity(request.words.front(), std::nullopt, CapacityUse::Inspected, failure)) {
      return failure;
    }
    return Inspect(request, open);
  }
  if (request.partition || request.sectorBytes) {
    return Failure(std::string(request.partition ? "--partno" : "--sector-size") +
                   " goes with --inspect: the figures are for Windows' default layout on 512-byte sectors");
  }
  return Figures(request);
}

}  // namespace karvo::cli
