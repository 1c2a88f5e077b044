// A running Karvo with its main dialog found, for tests that drive it: the
// program under test, or another copy of it that a test starts.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "driver.h"
#include "support/poll.h"
#include "support/wine_path.h"

namespace e2e {

class MainDialog : public ::testing::Test {
 protected:
  void SetUp() override { Start(testing_support::PathArgument()); }

  void Start(const std::wstring& program) {
    karvo = std::make_unique<KarvoProcess>(program);
    dialog = karvo->WaitForMainDialog();
    ASSERT_NE(dialog, nullptr) << "the main dialog did not appear";
    formatList = ::GetDlgItem(dialog, kFormatList);
    capacityList = ::GetDlgItem(dialog, kCapacityList);
  }

  // Presses calculate by posting the command, reads the answer and dismisses it.
  ResultBox Calculate() { return ReadAndDismissAnswer(karvo->PressCalculate()); }
  ResultBox Calculate(int format, int capacity) {
    Select(format, capacity);
    return Calculate();
  }

  ResultBox ReadAndDismissAnswer(HWND box) {
    if (box == nullptr) return {};
    ResultBox answer = ReadMessageBox(box);
    EXPECT_FALSE(::IsWindowEnabled(dialog)) << "the main dialog must wait while the answer is shown";
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitForMainDialogAlone());
    return answer;
  }

  // Alone and enabled again: a modal box hides before it gives its owner back,
  // so the first is seen a moment before the second.
  bool WaitForMainDialogAlone() {
    return testing_support::WaitUntil(
        [&] { return karvo->TopLevelWindows().size() == 1 && ::IsWindowEnabled(dialog); });
  }

  // Opens About, which must wait over the disabled main dialog, and closes it.
  void ExpectAboutOpensAndCloses() {
    HWND about = karvo->OpenAbout();
    ASSERT_NE(about, nullptr) << "the About box did not open";
    EXPECT_FALSE(::IsWindowEnabled(dialog)) << "the main dialog must wait while About is open";
    EXPECT_TRUE(testing_support::Dismiss(about)) << "the About box stayed open";
    ASSERT_TRUE(WaitForMainDialogAlone()) << "the main dialog is not alone and enabled again";
  }

  // F1 in a box over the main dialog: the help box belongs to that box, and
  // once it is gone the main dialog still waits under the box.
  void ExpectHelpOwnedBy(HWND box) {
    TypeKeys(box, {VK_F1});
    HWND help = karvo->WaitForOwnedDialog(box, L"Karvo");
    ASSERT_NE(help, nullptr) << "no help box owned by the box the user is in";
    EXPECT_EQ(ReadMessageBox(help).text, L"没有可用的帮助.");
    testing_support::Dismiss(help);
    Sync(box);
    EXPECT_EQ(karvo->WaitForOwnedDialog(box, L"Karvo", 300), nullptr) << "one F1, two help boxes";
    EXPECT_FALSE(::IsWindowEnabled(dialog)) << "the main dialog came alive under the box";
  }

  void Select(int format, int capacity) { karvo->Select(format, capacity); }

  void ExpectEndsWithin(DWORD ms) {
    DWORD exitCode = 1;
    ASSERT_TRUE(karvo->WaitForExit(ms, &exitCode)) << "the program did not end";
    EXPECT_EQ(exitCode, 0u);
  }

  void ExpectStillRunning() {
    EXPECT_FALSE(karvo->WaitForExit(300));
    EXPECT_TRUE(::IsWindowVisible(dialog));
  }

  // Nothing but the main dialog was shown, and cancel ends the program quietly.
  void ExpectOnlyTheMainDialogAndAQuietEnd() {
    EXPECT_EQ(karvo->TopLevelWindows(), std::vector<HWND>{dialog}) << "something was reported";
    EXPECT_TRUE(karvo->Close()) << "cancel did not end the program with status 0";
  }

  std::unique_ptr<KarvoProcess> karvo;
  HWND dialog = nullptr;
  HWND formatList = nullptr;
  HWND capacityList = nullptr;
};

}  // namespace e2e
