#include "cli/karvo_size.h"

#include "cli/figures.h"
#include "cli/inspect.h"
#include "cli/options.h"
#include "cli/plan.h"

namespace karvo::cli {

Result Run(std::span<const std::string_view> args, SourceOpener open) {
  Request request;
  if (auto finished = Parse(args, request)) return *finished;
  switch (request.task) {
    case Task::Table:
      return Table(request);
    case Task::Inspection:
      return Inspect(request, open);
    case Task::Plan:
      return PrintPlan(request, open);
    case Task::Figures:
      break;
  }
  return Figures(request);
}

}  // namespace karvo::cli
