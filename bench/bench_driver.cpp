// Times Karvo against the plain-Win32 baseline, run by run, alternating, and
// prints medians and ratios.
//   karvo_bench ROUNDS Karvo.exe KarvoBaseline.exe
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/driver.h"
#include "support/poll.h"
#include "support/wine_path.h"

namespace {

double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / frequency;
}

// Waits without sleeping between looks, so that the times are not rounded to
// the scheduler's tick.
template <typename Predicate>
bool SpinUntil(Predicate done) {
  return testing_support::WaitUntil(done, 20000, 0);
}

struct Run {
  double startToReady = 0, calculateToAnswer = 0, cancelToExit = 0, peakWorkingSetKb = 0;
};

HWND ReadyDialog(const e2e::KarvoProcess& process) {
  for (HWND window : process.TopLevelWindows()) {
    HWND capacity = ::GetDlgItem(window, e2e::kCapacityList);
    if (capacity && ::SendMessageW(capacity, CB_GETCOUNT, 0, 0) == 300) return window;
  }
  return nullptr;
}

bool Measure(const std::wstring& program, const std::string& linuxName, Run& run) {
  const double started = Now();
  e2e::KarvoProcess process(program);
  HWND dialog = nullptr;
  if (!SpinUntil([&] { return (dialog = ReadyDialog(process)) != nullptr; })) return false;
  run.startToReady = Now() - started;

  process.WaitForMainDialog();
  process.Select(1, 120);
  const double posted = Now();
  ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  HWND box = nullptr;
  if (!SpinUntil([&] {
        for (HWND window : process.TopLevelWindows()) {
          if (testing_support::Matches(window, {.owner = dialog})) box = window;
        }
        return box != nullptr;
      })) {
    return false;
  }
  run.calculateToAnswer = Now() - posted;
  testing_support::Dismiss(box);

  const std::wstring linuxProcess = e2e::FindLinuxProcess(linuxName);
  run.peakWorkingSetKb =
      linuxProcess.empty() ? -1 : e2e::StatusField(e2e::ReadWholeFile(linuxProcess + L"\\status"), "VmHWM");

  const double cancelled = Now();
  ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  if (!process.WaitForExit(20000)) return false;
  run.cancelToExit = Now() - cancelled;
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ? static_cast<long>(data.nFileSizeLow) : -1;
}

std::string BaseName(const std::wstring& path) {
  const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
  return std::string(name.begin(), name.end());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s ROUNDS Karvo.exe KarvoBaseline.exe\n", argv[0]);
    return 2;
  }
  const int rounds = std::max(1, std::atoi(argv[1]));
  const std::wstring programs[2] = {testing_support::WindowsPath(argv[2]), testing_support::WindowsPath(argv[3])};
  std::vector<Run> runs[2];
  for (int round = 0; round < rounds; ++round) {
    for (int k = 0; k < 2; ++k) {
      const int which = (round + k) % 2;  // alternate which one goes first
      Run run;
      if (!Measure(programs[which], BaseName(programs[which]), run)) {
        std::fprintf(stderr, "round %d: %s did not behave\n", round + 1, BaseName(programs[which]).c_str());
        return 1;
      }
      runs[which].push_back(run);
    }
  }

  auto column = [&](double Run::*field, int which) {
    std::vector<double> values;
    for (const Run& run : runs[which]) values.push_back(run.*field);
    return Median(values);
  };
  std::printf("%d runs each, medians, alternating order\n", rounds);
  std::printf("%-28s %12s %12s %8s\n", "", "Karvo", "baseline", "ratio");
  struct Row {
    const char* name;
    double Run::*field;
    const char* unit;
  };
  bool within = true;
  for (const Row& row :
       {Row{"start to ready", &Run::startToReady, "ms"}, Row{"calculate to answer", &Run::calculateToAnswer, "ms"},
        Row{"cancel to exit", &Run::cancelToExit, "ms"}, Row{"peak working set", &Run::peakWorkingSetKb, "KiB"}}) {
    const double karvo = column(row.field, 0);
    const double baseline = column(row.field, 1);
    const double ratio = baseline > 0 ? karvo / baseline : 0;
    within = within && ratio <= 1.10;
    std::printf("%-24s %3s %12.1f %12.1f %8.3f%s\n", row.name, row.unit, karvo, baseline, ratio,
                ratio <= 1.10 ? "" : "  (over 1.10)");
  }
  const long karvoSize = FileSize(programs[0]);
  const long baselineSize = FileSize(programs[1]);
  std::printf("%-24s %3s %12ld %12ld %8.3f%s\n", "executable size", "B", karvoSize, baselineSize,
              baselineSize > 0 ? static_cast<double>(karvoSize) / baselineSize : 0.0,
              karvoSize <= 64 * 1024 ? "  (Karvo within 64 KiB)" : "  (Karvo over 64 KiB)");
  std::printf("%s\n", within ? "every ratio within 1.10" : "some ratio over 1.10");
  return 0;
}
