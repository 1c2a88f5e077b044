// A running Karvo with its main dialog found, for tests that drive it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "driver.h"
#include "support/poll.h"

namespace e2e {

inline constexpr int kFormatList = 1000;
inline constexpr int kCapacityList = 1001;
inline const std::wstring kResultCaption = L"计算结果";

// The answer's text, spelled out here rather than built by the code under
// test: format 0 is FAT32, 1 NTFS; capacity and figure as the box writes them.
inline std::wstring AnswerText(int format, const std::wstring& capacity, const std::wstring& figure) {
  return std::wstring(format == 0 ? L"您选择的格式为FAT32,分区容量为" : L"您选择的格式为NTFS,分区容量为") + capacity +
         L"GB,实际容量应为 " + figure + L" MB.";
}

class MainDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog = karvo.WaitForMainDialog();
    ASSERT_NE(dialog, nullptr) << "the main dialog did not appear";
    formatList = ::GetDlgItem(dialog, kFormatList);
    capacityList = ::GetDlgItem(dialog, kCapacityList);
  }

  // Presses calculate by posting the command, reads the answer and dismisses it.
  e2e::ResultBox Calculate() {
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return ReadAndDismissAnswer();
  }

  e2e::ResultBox ReadAndDismissAnswer() {
    HWND box = karvo.WaitForOwnedDialog(dialog, kResultCaption);
    if (box == nullptr) return {};
    e2e::ResultBox answer = e2e::ReadMessageBox(box);
    EXPECT_FALSE(::IsWindowEnabled(dialog)) << "the main dialog must wait while the answer is shown";
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitForMainDialogAlone());
    return answer;
  }

  // Alone and enabled again: a modal box hides before it gives its owner back,
  // so the first is seen a moment before the second.
  bool WaitForMainDialogAlone() {
    return testing_support::WaitUntil([&] { return karvo.TopLevelWindows().size() == 1 && ::IsWindowEnabled(dialog); });
  }

  // F1 in a box over the main dialog: the help box belongs to that box, and
  // once it is gone the main dialog still waits under the box.
  void ExpectHelpOwnedBy(HWND box) {
    e2e::TypeKeys(box, {VK_F1});
    HWND help = karvo.WaitForOwnedDialog(box, L"Karvo");
    ASSERT_NE(help, nullptr) << "no help box owned by the box the user is in";
    EXPECT_EQ(e2e::ReadMessageBox(help).text, L"没有可用的帮助.");
    ::PostMessageW(help, WM_COMMAND, IDOK, 0);
    testing_support::WaitUntil([&] { return !::IsWindow(help); });
    e2e::Sync(box);
    EXPECT_EQ(karvo.WaitForOwnedDialog(box, L"Karvo", 300), nullptr) << "one F1, two help boxes";
    EXPECT_FALSE(::IsWindowEnabled(dialog)) << "the main dialog came alive under the box";
  }

  void Select(int format, int capacity) {
    ::SendMessageW(formatList, CB_SETCURSEL, format, 0);
    ::SendMessageW(capacityList, CB_SETCURSEL, capacity - 1, 0);
  }

  void ExpectEndsWithin(DWORD ms) {
    DWORD exitCode = 1;
    ASSERT_TRUE(karvo.WaitForExit(ms, &exitCode)) << "the program did not end";
    EXPECT_EQ(exitCode, 0u);
  }

  void ExpectStillRunning() {
    EXPECT_FALSE(karvo.WaitForExit(300));
    EXPECT_TRUE(::IsWindowVisible(dialog));
  }

  KarvoProcess karvo;
  HWND dialog = nullptr;
  HWND formatList = nullptr;
  HWND capacityList = nullptr;
};

}  // namespace e2e
