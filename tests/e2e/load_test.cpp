// One Karvo process under a long session: a thousand answers and two hundred
// About boxes. Every answer must be right, and what the process holds must not
// grow beyond a small fixed allowance.
#include <gtest/gtest.h>
#include <windows.h>
// psapi.h needs windows.h first
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "main_dialog_fixture.h"

namespace {

// What the process holds. Wine answers 0 to the Windows counters of handles,
// GDI and USER objects and private bytes, so the Linux side of the Wine
// process is read too: its anonymous (private) resident memory and its open
// file descriptors, through Wine's Z: drive.
struct Footprint {
  DWORD handles = 0;
  DWORD gdiObjects = 0;
  DWORD userObjects = 0;
  SIZE_T privateBytes = 0;
  long linuxPrivateKb = -1;
  long linuxDescriptors = -1;
};

Footprint Measure(HANDLE process, const std::wstring& linuxProcess) {
  Footprint f;
  ::GetProcessHandleCount(process, &f.handles);
  f.gdiObjects = ::GetGuiResources(process, GR_GDIOBJECTS);
  f.userObjects = ::GetGuiResources(process, GR_USEROBJECTS);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
    f.privateBytes = memory.PrivateUsage;
  }
  if (!linuxProcess.empty()) {
    f.linuxPrivateKb = e2e::StatusField(e2e::ReadWholeFile(linuxProcess + L"\\status"), "RssAnon");
    f.linuxDescriptors = e2e::CountEntries(linuxProcess + L"\\fd");
  }
  return f;
}

void Report(const char* when, const Footprint& f) {
  std::printf(
      "%-6s Windows: handles %lu, GDI objects %lu, USER objects %lu, private bytes %lu; "
      "Linux: private resident %ld KiB, file descriptors %ld\n",
      when, f.handles, f.gdiObjects, f.userObjects, static_cast<unsigned long>(f.privateBytes), f.linuxPrivateKb,
      f.linuxDescriptors);
}

class LongSession : public e2e::MainDialog {
 protected:
  void CalculateOnce(int format, int capacity) {
    Select(format, capacity);
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    HWND box = karvo.WaitForOwnedDialog(dialog, e2e::kResultCaption);
    ASSERT_NE(box, nullptr);
    const std::wstring figure = std::to_wstring(format == 0 ? 1028 * capacity - 4 : 1024 * capacity + 5);
    ASSERT_NE(e2e::ReadMessageBox(box).text.find(L"为 " + figure + L" MB."), std::wstring::npos) << capacity;
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitForMainDialogAlone());
  }

  void AboutOnce() {
    ::PostMessageW(dialog, WM_SYSCOMMAND, 0x0010, 0);
    HWND about = karvo.WaitForOwnedDialog(dialog, L"关于 Karvo");
    ASSERT_NE(about, nullptr);
    ::PostMessageW(about, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitForMainDialogAlone());
  }
};

TEST_F(LongSession, AThousandAnswersAndTwoHundredAboutBoxesLeaveNothingBehind) {
  for (int i = 0; i < 20; ++i) CalculateOnce(i % 2, i + 1);  // let caches settle first
  for (int i = 0; i < 5; ++i) AboutOnce();
  e2e::Sync(dialog);
  const std::wstring linuxProcess = e2e::FindLinuxProcess("Karvo.exe");
  ASSERT_FALSE(linuxProcess.empty()) << "the Wine process of Karvo.exe was not found in /proc";
  const Footprint before = Measure(karvo.Handle(), linuxProcess);

  for (int i = 0; i < 1000; ++i) {
    CalculateOnce(i % 2, i % 300 + 1);
    if (HasFatalFailure()) return;
    if (i % 5 == 0) AboutOnce();
    if (HasFatalFailure()) return;
  }
  e2e::Sync(dialog);
  const Footprint after = Measure(karvo.Handle(), linuxProcess);
  Report("before", before);
  Report("after", after);
  RecordProperty("handles", std::to_string(before.handles) + " -> " + std::to_string(after.handles));
  RecordProperty("linux_private_kb",
                 std::to_string(before.linuxPrivateKb) + " -> " + std::to_string(after.linuxPrivateKb));

  EXPECT_LE(after.handles, before.handles + 8);
  EXPECT_LE(after.gdiObjects, before.gdiObjects + 8);
  EXPECT_LE(after.userObjects, before.userObjects + 8);
  EXPECT_LE(after.privateBytes, before.privateBytes + 256 * 1024);
  ASSERT_GT(before.linuxPrivateKb, 0);
  EXPECT_LE(after.linuxPrivateKb, before.linuxPrivateKb + 128) << "private memory grew";
  EXPECT_LE(after.linuxDescriptors, before.linuxDescriptors + 2) << "file descriptors grew";
  ExpectStillRunning();
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) return 2;
  e2e::SetKarvoPath(argv[1]);
  return RUN_ALL_TESTS();
}
