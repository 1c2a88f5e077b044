// One Karvo process under a long session: a thousand answers and two hundred
// About boxes. Every answer must be right, and what the process holds must not
// grow beyond a small fixed allowance.
#include <gtest/gtest.h>
#include <windows.h>
// psapi.h needs windows.h first
#include <psapi.h>

#include <cstdio>
#include <string>

#include "main_dialog_fixture.h"

namespace {

// What the process holds, as Wine lets another process see it. Wine answers
// 0 to the Windows counters of handles, GDI and USER objects and private
// bytes, before and after alike, so they are not read: a check of them could
// never fail. What does move is read instead: the Linux side of the Wine
// process (its anonymous resident memory, page by page, and its open file
// descriptors, through Wine's Z: drive) and the windows it owns.
struct Footprint {
  long privateKb = -1;
  long descriptors = -1;
  long windows = 0;
};

long CountWindows(DWORD processId) {
  struct Count {
    DWORD processId;
    long windows;
    static BOOL CALLBACK Visit(HWND window, LPARAM param) {
      auto* count = reinterpret_cast<Count*>(param);
      DWORD owner = 0;
      ::GetWindowThreadProcessId(window, &owner);
      if (owner == count->processId) {
        ++count->windows;
        ::EnumChildWindows(window, &Visit, param);
      }
      return TRUE;
    }
  } count{processId, 0};
  ::EnumWindows(&Count::Visit, reinterpret_cast<LPARAM>(&count));
  return count.windows;
}

Footprint Measure(DWORD processId, const std::wstring& linuxProcess) {
  Footprint f;
  f.privateKb = e2e::StatusField(e2e::ReadWholeFile(linuxProcess + L"\\status"), "RssAnon");
  f.descriptors = e2e::CountEntries(linuxProcess + L"\\fd");
  f.windows = CountWindows(processId);
  return f;
}

void Report(const char* when, const Footprint& f) {
  std::printf("%-6s private resident %ld KiB, file descriptors %ld, windows %ld\n", when, f.privateKb, f.descriptors,
              f.windows);
}

class LongSession : public e2e::MainDialog {
 protected:
  void CalculateOnce(int format, int capacity) {
    const std::wstring figure = std::to_wstring(format == 0 ? 1028 * capacity - 4 : 1024 * capacity + 5);
    ASSERT_EQ(Calculate(format, capacity).text, e2e::AnswerText(format, std::to_wstring(capacity), figure));
  }
};

// A leak of 1 KiB a calculation grows the private memory by some 200 KiB
// over these rounds, well past the allowance; without one it moves by a page
// or two.
constexpr int kRounds = 200;
constexpr long kAllowanceKb = 96;

TEST_F(LongSession, ManyAnswersAndAboutBoxesLeaveNothingBehind) {
  for (int i = 0; i < 30; ++i) CalculateOnce(i % 2, i + 1);  // let caches settle first
  for (int i = 0; i < 5; ++i) ExpectAboutOpensAndCloses();
  e2e::Sync(dialog);
  const std::wstring linuxProcess = e2e::FindLinuxProcess("Karvo.exe");
  ASSERT_FALSE(linuxProcess.empty()) << "the Wine process of Karvo.exe was not found in /proc";
  const Footprint before = Measure(karvo->Id(), linuxProcess);

  for (int i = 0; i < kRounds; ++i) {
    CalculateOnce(i % 2, (i * 7) % 300 + 1);
    if (HasFatalFailure()) return;
    if (i % 5 == 0) ExpectAboutOpensAndCloses();
    if (HasFatalFailure()) return;
  }
  e2e::Sync(dialog);
  const Footprint after = Measure(karvo->Id(), linuxProcess);
  Report("before", before);
  Report("after", after);
  RecordProperty("private_kb", std::to_string(before.privateKb) + " -> " + std::to_string(after.privateKb));

  ASSERT_GT(before.privateKb, 0);
  ASSERT_GT(before.descriptors, 0);
  EXPECT_LE(after.privateKb, before.privateKb + kAllowanceKb) << "private memory grew";
  EXPECT_LE(after.descriptors, before.descriptors) << "file descriptors grew";
  EXPECT_EQ(after.windows, before.windows) << "windows were left behind";
  ExpectStillRunning();
}

}  // namespace
