#include "cli/options.h"

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <utility>

#include "core/size_rounding.h"
#include "disk/plan.h"

namespace karvo::cli {
namespace {

enum class OptionId {
#define KARVO_OPTION(id, name, value, company, help) id,
#include "cli/options.def"
#undef KARVO_OPTION
};

struct OptionSpec {
  OptionId id;
  std::string_view name;
  std::string_view value;  // its value's name; empty for a flag
  Company company;
  std::string_view help;  // a line to each "\n"
};

constexpr OptionSpec kOptions[] = {
#define KARVO_OPTION(id, name, value, company, help) {OptionId::id, name, value, Company::company, help},
#include "cli/options.def"
#undef KARVO_OPTION
};

constexpr std::string_view kUsageHead =
    "Usage: karvo-size [--exact | --message | --json] [FILE-SYSTEM] CAPACITY...\n"
    "       karvo-size --table | --csv | --json\n"
    "       karvo-size --inspect PATH [--partno N] [--sector-size SIZE] [--json]\n"
    "                  [CAPACITY]\n"
    "       karvo-size --plan DISK [--mbr] [--windows [--recovery MIB]]\n"
    "                  [--sector-size SIZE] [--sfdisk | --csv | --json |\n"
    "                  --diskpart N [--clean] [--assign]]\n"
    "                  FILE-SYSTEM CAPACITY... [FILE-SYSTEM CAPACITY... | rest]...\n"
    "\n"
    "Prints how many MiB (mebibytes, 2^20 bytes) to give a partition so that,\n"
    "formatted, Windows shows it as a whole number of GB (GiB, 2^30 bytes): one\n"
    "figure a line, one line a capacity. Windows' Disk Management and diskpart,\n"
    "GParted and fdisk (+122885M) mean MiB by MB or M; parted's MB is 10^6 bytes,\n"
    "so give parted the figure as MiB. The figures are for Windows' default layout\n"
    "on 512-byte sectors (with --exact --sector-size 4096, on 4096-byte ones).\n"
    "\n"
    "  FILE-SYSTEM        fat32, ntfs or exfat, in any case (default: ntfs)\n";

constexpr std::string_view kUsageTail =
    "\n"
    "Example: karvo-size ntfs 120   prints 122885 (MiB)\n"
    "Exit status: 0 on success; 1 when Windows does not show an inspected volume as\n"
    "the capacity; 2 for a bad argument, a volume that cannot be read (in a disk's\n"
    "listing too), a capacity that no volume of the file system can reach, a plan\n"
    "that cannot be laid out, or output that cannot be written.\n";

// The help: the capacities' ranges as the figures decide them, then each
// option beside its text, in the table's order.
std::string Help() {
  constexpr std::size_t kTextColumn = 21;
  std::string text(kUsageHead);
  text += "  CAPACITY           whole GB (GiB): for FAT32 from 1 to " +
          LargestCapacityText(FileSystem::Fat32, CapacityUse::Rule) + ", to " +
          LargestCapacityText(FileSystem::Fat32, CapacityUse::Exact) +
          " with\n"
          "                     --exact (FAT32 on 512-byte sectors ends at 2 TiB); for\n"
          "                     NTFS from 1 to " +
          LargestCapacityText(FileSystem::Ntfs, CapacityUse::Rule) + "; for exFAT from 1 to " +
          LargestCapacityText(FileSystem::Exfat, CapacityUse::Exact) +
          ",\n"
          "                     where mkfs.exfat's layout ends, its figure always the\n"
          "                     exact one (Karvo's rule and answer are for FAT32 and\n"
          "                     NTFS). From 1000 GB Windows shows a size in TB (1000 GB\n"
          "                     as 0.97 TB), never as N GB: the figure still reaches N\n"
          "                     GiB, and a line on standard error says what Windows shows\n";
  for (const OptionSpec& option : kOptions) {
    std::string left = "  " + std::string(option.name) + (option.value.empty() ? "" : " " + std::string(option.value));
    left.resize(std::max(left.size() + 1, kTextColumn), ' ');
    text += left;
    for (char c : option.help) text += c == '\n' ? "\n" + std::string(kTextColumn, ' ') : std::string(1, c);
    text += "\n";
  }
  return text + std::string(kUsageTail);
}

// The option an argument names, as it stands or with "=value" for one that
// takes a value; none for an unknown one.
const OptionSpec* FindOption(std::string_view arg) {
  if (arg == "-h") arg = "--help";
  for (const OptionSpec& option : kOptions) {
    if (arg == option.name || (!option.value.empty() && arg.size() > option.name.size() &&
                               arg.starts_with(option.name) && arg[option.name.size()] == '=')) {
      return &option;
    }
  }
  return nullptr;
}

// An option's value: after "=", or the next argument. None when it has none.
std::optional<std::string_view> OptionValue(std::span<const std::string_view> args, std::size_t& i,
                                            std::string_view name) {
  const std::string_view arg = args[i];
  if (arg.size() > name.size()) return arg.substr(name.size() + 1);  // --name=value
  if (i + 1 == args.size()) return std::nullopt;
  return args[++i];
}

// A small whole number of digits only; none for anything else.
std::optional<int> SmallNumber(std::string_view word) {
  if (word.empty() || word.size() > 4 || word.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  int value = 0;
  for (char c : word) value = value * 10 + (c - '0');
  return value;
}

// What a word or an option goes with, as a refusal names it.
std::string_view CompanyName(Company company) {
  switch (company) {
    case Company::Figures:
      return "the figures";
    case Company::Table:
      return "--table or --csv";
    case Company::Inspection:
      return "--inspect";
    case Company::Plan:
      return "--plan";
    case Company::FiguresOrPlan:
      return "the figures or --plan";
    case Company::TableOrPlan:
      return "--table or --plan";
    case Company::NotTable:
    case Company::Anywhere:
      break;
  }
  return "the figures, --inspect or --plan";
}

// What karvo-size was asked to do, and why other things do not go with it
// (of the figures, why an option about a disk does not).
std::string TaskName(Task task, Company given) {
  switch (task) {
    case Task::Table:
      return "--table or --csv, which list 1 to " + Number(kCapacityCount) + " GB";
    case Task::Inspection:
      return "--inspect, which reads the file system from the volume and takes only a capacity";
    case Task::Plan:
      return "--plan, which lays out a disk";
    case Task::Figures:
      break;
  }
  return Accepts(given, Task::Inspection) ? "the figures, which are for Windows' default layout" : "the figures";
}

}  // namespace

std::optional<Result> SectorSizeRefused(const Request& request, const DiskReader& disk, const std::string& name) {
  const auto device = disk.SectorBytes();
  if (!request.sectorBytes || !device || *request.sectorBytes == *device) return std::nullopt;
  return Failure("--sector-size " + Number(*request.sectorBytes) + " contradicts " + name + ", whose sectors are " +
                 Number(*device) + " bytes: leave it out for a device");
}

namespace {

// What the parser keeps beside the request: each word and option as it was
// given, with what it goes with, and what --version and the task were given with.
struct Parsing {
  struct Given {
    std::string_view word;
    Company company;
  };
  std::vector<Given> given;
  std::bitset<std::size(kOptions)> options;  // each option given, by its place in the table
  bool optionsEnded = false;
  bool version = false;
  std::string_view besideVersion;  // the first argument besides --version
  std::string_view taskWord;       // --table, --csv, --inspect or --plan, as typed
};

// What goes together among the options beyond the task each goes with, as
// sfdisk declares its exclusive options: one at most of a group, and an
// option only beside another. Checked in this order, after the tasks.
constexpr OptionId kPrintsThePlan[] = {OptionId::Sfdisk, OptionId::Diskpart, OptionId::Csv};
constexpr OptionId kTextOrExact[] = {OptionId::Message, OptionId::Exact};
constexpr OptionId kForms[] = {OptionId::Json, OptionId::Csv};
constexpr OptionId kJsonOrScript[] = {OptionId::Json, OptionId::Sfdisk, OptionId::Diskpart};
constexpr OptionId kJsonOrText[] = {OptionId::Json, OptionId::Message};
constexpr std::pair<std::span<const OptionId>, std::string_view> kOneAtMost[] = {
    {kPrintsThePlan, "--sfdisk, --diskpart and --csv each print the plan: give one of them"},
    {kTextOrExact, "--message and --exact do not go together: Karvo's text gives its rule"},
    {kForms, "--json and --csv are two forms of one answer: give one of them"},
    {kJsonOrScript, "--json, --sfdisk and --diskpart each print the plan: give one of them"},
    {kJsonOrText, "--json and --message do not go together: the JSON gives the figure, Karvo's text is for people"},
};
struct Needs {
  OptionId option;
  OptionId needed;
  std::string_view refusal;
};
constexpr Needs kNeeds[] = {
    {OptionId::Clean, OptionId::Diskpart, "--clean goes with --diskpart N"},
    {OptionId::Assign, OptionId::Diskpart, "--assign goes with --diskpart N"},
    {OptionId::Recovery, OptionId::Windows, "--recovery goes with --windows"},
};

Result Twice(std::string_view arg) { return Failure(Quoted(arg) + " is given twice: give it once"); }

// A file system's word, bare or --fs's. A second goes with a plan alone,
// which may not have been asked for yet: it waits for the end.
std::optional<Result> TakeFileSystem(std::string_view word, Company company, Request& request, Parsing& parsing) {
  const auto named = ParseFileSystem(word);
  if (!named) return UnknownFileSystem(word);
  if (!request.kind) {
    request.kind = named;
  } else if (!request.secondFileSystem) {
    request.secondFileSystem = word;
  }
  parsing.given.push_back({word, company});
  return std::nullopt;
}

// A word that is no option: a file system, or a word the task takes.
std::optional<Result> TakeWord(std::string_view arg, Request& request, Parsing& parsing) {
  request.sequence.push_back(arg);
  if (ParseFileSystem(arg)) return TakeFileSystem(arg, Company::FiguresOrPlan, request, parsing);
  request.words.push_back(arg);
  parsing.given.push_back({arg, Company::NotTable});
  return std::nullopt;
}

// --table, --csv, --inspect or --plan: each chooses what karvo-size does, one
// of them at most, but for --csv beside --plan, which prints the plan as CSV.
std::optional<Result> TakeTask(OptionId id, std::string_view arg, std::optional<std::string_view> value,
                               Request& request, Parsing& parsing) {
  const bool csvPlan = (id == OptionId::Csv && request.task == Task::Plan) ||
                       (id == OptionId::Plan && request.csv && request.task == Task::Table);
  if (!parsing.taskWord.empty() && !csvPlan) {
    return Failure(Quoted(arg) + " after " + Quoted(parsing.taskWord) + ": give one of them");
  }
  if (request.csv && id == OptionId::Csv) return Twice(arg);
  parsing.taskWord = arg;
  request.csv = request.csv || id == OptionId::Csv;
  request.task = id == OptionId::Table || (id == OptionId::Csv && !csvPlan) ? Task::Table
                 : id == OptionId::Inspect                                  ? Task::Inspection
                                                                            : Task::Plan;
  if (id == OptionId::Inspect) {
    request.inspectPath = value;
    if (!value || value->empty()) {
      return Failure("--inspect needs the path of a volume or an image file (- for standard input)");
    }
  }
  if (id == OptionId::Plan) {
    request.planDisk = value;
    if (!value || value->empty()) {
      return Failure("--plan needs a disk: its size (1TB, 931.5GiB, bytes), or its image or its device");
    }
  }
  return std::nullopt;
}

// Each flag's place in the request.
constexpr std::pair<OptionId, bool Request::*> kFlags[] = {
    {OptionId::Message, &Request::message}, {OptionId::Exact, &Request::exact},   {OptionId::Mbr, &Request::mbr},
    {OptionId::Windows, &Request::windows}, {OptionId::Sfdisk, &Request::sfdisk}, {OptionId::Clean, &Request::clean},
    {OptionId::Assign, &Request::assign},   {OptionId::Json, &Request::json},
};

// A flag's place in the request; none for an option that is no flag.
bool Request::*FlagOf(OptionId id) {
  for (const auto& [option, flag] : kFlags) {
    if (option == id) return flag;
  }
  return nullptr;
}

// An option's number, given once and in its range.
std::optional<Result> TakeNumber(OptionId id, std::string_view name, std::optional<std::string_view> value,
                                 Request& request) {
  const std::optional<int> number = value ? SmallNumber(*value) : std::nullopt;
  switch (id) {
    case OptionId::Recovery:
      if (request.recoveryMiB) return Twice(name);
      request.recoveryMiB = number;
      if (!number || *number < kFewestRecoveryMiB) {
        return Failure("--recovery needs the recovery partition's size in MiB: " + Number(kFewestRecoveryMiB) +
                       " to 9999");
      }
      break;
    case OptionId::Diskpart:
      if (request.diskpartDisk) return Twice(name);
      request.diskpartDisk = number;
      if (!number) return Failure("--diskpart needs the disk's number in diskpart's list disk: 0 and up");
      break;
    case OptionId::PartitionNumber:
      if (request.partition) return Twice(name);
      request.partition = number;
      if (!number || *number == 0) {
        return Failure("--partno needs a partition's number, as fdisk lists them: 1 and up");
      }
      break;
    case OptionId::SectorSize:
      if (request.sectorBytes) return Twice(name);
      if (number != kSectorBytes && number != kLargeSectorBytes) {
        return Failure("--sector-size needs a disk's logical sector size: 512 or 4096");
      }
      request.sectorBytes = *number;
      break;
    default:  // the options without a number
      break;
  }
  return std::nullopt;
}

// One option other than --help and --version, and its value.
std::optional<Result> TakeOption(const OptionSpec& spec, std::string_view arg, std::optional<std::string_view> value,
                                 Request& request, Parsing& parsing) {
  if (bool Request::*flag = FlagOf(spec.id)) {
    if (request.*flag) return Twice(arg);
    request.*flag = true;
    return std::nullopt;
  }
  switch (spec.id) {
    case OptionId::EndOfOptions:
      parsing.optionsEnded = true;
      return std::nullopt;
    case OptionId::Table:
    case OptionId::Csv:
    case OptionId::Inspect:
    case OptionId::Plan:
      return TakeTask(spec.id, arg, value, request, parsing);
    case OptionId::FileSystem:
      if (!value) return Failure("--fs needs a file system: fat32, ntfs or exfat");
      return TakeFileSystem(*value, Company::Figures, request, parsing);
    case OptionId::Recovery:
    case OptionId::Diskpart:
    case OptionId::PartitionNumber:
    case OptionId::SectorSize:
      return TakeNumber(spec.id, spec.name, value, request);
    default:
      return std::nullopt;
  }
}

// What goes together, once everything is read: --version alone, a second
// file system in a plan alone, each word and option with the task, --message
// neither with --exact nor with exFAT.
std::optional<Result> CheckTogether(const Request& request, const Parsing& parsing) {
  if (parsing.version) {
    if (!parsing.besideVersion.empty()) return Failure(Quoted(parsing.besideVersion) + " does not go with --version");
    return Result{0, "karvo-size " KARVO_VERSION "\n", ""};
  }
  if (request.secondFileSystem && request.task != Task::Plan) {
    return Failure(Quoted(*request.secondFileSystem) + " is one file system too many: give one");
  }
  for (const Parsing::Given& each : parsing.given) {
    if (!Accepts(each.company, request.task)) {
      return Failure(Quoted(each.word) + " goes with " + std::string(CompanyName(each.company)) + ", not with " +
                     TaskName(request.task, each.company));
    }
  }
  const auto given = [&](OptionId id) { return parsing.options.test(static_cast<std::size_t>(id)); };
  for (const auto& [group, refusal] : kOneAtMost) {
    if (std::count_if(group.begin(), group.end(), given) > 1) return Failure(refusal);
  }
  for (const Needs& rule : kNeeds) {
    if (given(rule.option) && !given(rule.needed)) return Failure(rule.refusal);
  }
  if (request.message && request.kind == FileSystem::Exfat) {
    return Failure(
        "--message does not go with exFAT: Karvo's text gives its rule, which is for FAT32 and NTFS; "
        "karvo-size exfat N prints exFAT's exact figure");
  }
  return std::nullopt;
}

}  // namespace

// Reads each argument in turn: a word, --help (which answers at once),
// --version (which must stand alone), or an option and its value; then checks
// what goes together.
std::optional<Result> Parse(std::span<const std::string_view> args, Request& request) {
  Parsing parsing;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    // "-" alone is a path (standard input), "-5" a capacity the checks refuse.
    const bool option = !parsing.optionsEnded && arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
    if (!option) {
      if (parsing.besideVersion.empty()) parsing.besideVersion = arg;
      if (auto refused = TakeWord(arg, request, parsing)) return refused;
      continue;
    }
    const OptionSpec* spec = FindOption(arg);
    if (spec == nullptr) return Failure("unknown option " + Quoted(arg) + ": see karvo-size --help");
    if (spec->id == OptionId::Help) return Result{0, Help(), ""};
    if (spec->id == OptionId::Version) {
      if (parsing.version) return Twice(arg);
      parsing.version = true;
      continue;
    }
    if (parsing.besideVersion.empty()) parsing.besideVersion = arg;
    const std::optional<std::string_view> value = spec->value.empty() ? std::nullopt : OptionValue(args, i, spec->name);
    if (spec->id != OptionId::FileSystem) parsing.given.push_back({spec->name, spec->company});
    parsing.options.set(static_cast<std::size_t>(spec->id));
    if (auto refused = TakeOption(*spec, arg, value, request, parsing)) return refused;
  }
  // --json with nothing of the figures' (no word, no option of theirs) is the table, as --csv is.
  const bool figuresAsked = std::any_of(parsing.given.begin(), parsing.given.end(),
                                        [](const Parsing::Given& each) { return each.company != Company::Anywhere; });
  if (request.json && request.task == Task::Figures && !figuresAsked) request.task = Task::Table;
  return CheckTogether(request, parsing);
}

}  // namespace karvo::cli
