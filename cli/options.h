// What karvo-size's command line asks for, and how it says that an argument
// will not do: one line naming the word as the user typed it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/result.h"
#include "cli/text.h"
#include "cli/words.h"
#include "disk/volume_layout.h"

namespace karvo::cli {

// What karvo-size is asked to do: the figures, unless --table, --csv,
// --inspect or --plan.
enum class Task { Figures, Table, Inspection, Plan };

// A task's bit in a company.
constexpr unsigned Bit(Task task) { return 1U << static_cast<unsigned>(task); }

// What an option or a word goes with: one task or several, a bit each.
enum class Company : unsigned {
  Figures = Bit(Task::Figures),
  Table = Bit(Task::Table),
  Inspection = Bit(Task::Inspection),
  Plan = Bit(Task::Plan),
  FiguresOrPlan = Bit(Task::Figures) | Bit(Task::Plan),                     // a file system's word
  TableOrPlan = Bit(Task::Table) | Bit(Task::Plan),                         // --csv
  NotTable = Bit(Task::Figures) | Bit(Task::Inspection) | Bit(Task::Plan),  // a capacity, a sector size
  Anywhere = Bit(Task::Figures) | Bit(Task::Table) | Bit(Task::Inspection) | Bit(Task::Plan),
};

constexpr bool Accepts(Company given, Task task) { return (static_cast<unsigned>(given) & Bit(task)) != 0; }

struct Request {
  Task task = Task::Figures;
  std::optional<FileSystem> kind;
  std::vector<std::string_view> words;     // capacities, or whatever else is not an option
  std::vector<std::string_view> sequence;  // every word, file systems too, in order: the plan's
  std::optional<std::string_view> secondFileSystem;
  bool message = false;
  bool exact = false;
  bool csv = false;
  bool json = false;
  std::optional<std::string_view> inspectPath;
  std::optional<int> partition;             // --partno
  std::optional<std::int64_t> sectorBytes;  // --sector-size
  // --plan
  std::optional<std::string_view> planDisk;
  bool mbr = false;
  bool windows = false;
  std::optional<int> recoveryMiB;
  bool sfdisk = false;
  std::optional<int> diskpartDisk;
  bool clean = false;
  bool assign = false;
};

// Reads the arguments into `request`; a result instead when they are read
// to the end already (--help, --version) or cannot be read.
std::optional<Result> Parse(std::span<const std::string_view> args, Request& request);

// A device knows its own sectors: a --sector-size that says otherwise would
// misread its table. The refusal, or none.
std::optional<Result> SectorSizeRefused(const Request& request, const DiskReader& disk, const std::string& name);

}  // namespace karvo::cli
