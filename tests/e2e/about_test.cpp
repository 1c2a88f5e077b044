// The About box, reached through the main dialog's system menu, from outside.
#include <gtest/gtest.h>

#include <functional>

#include "main_dialog_fixture.h"

namespace {

using e2e::kAboutCaption;
using e2e::kAboutCommand;
using e2e::MainDialog;

class AboutBox : public MainDialog {
 protected:
  HWND OpenAbout(WPARAM command = kAboutCommand) { return karvo->OpenAbout(command); }

  void ExpectClosedAndMainDialogAsBefore(HWND about) {
    testing_support::WaitUntil([&] { return !::IsWindow(about); });
    EXPECT_FALSE(::IsWindow(about)) << "the About box stayed open";
    e2e::Sync(dialog);
    EXPECT_TRUE(::IsWindowEnabled(dialog));
    EXPECT_EQ(e2e::ComboSelection(formatList), 1);
    EXPECT_EQ(e2e::ComboSelection(capacityList), 41);
    ExpectStillRunning();
  }
};

TEST_F(AboutBox, EveryCommandWithTheAboutBitsOpensItOwnedByTheDisabledMainDialog) {
  Select(1, 42);
  for (WPARAM command : {0x0010, 0x0013, 0x001F}) {
    HWND about = OpenAbout(command);
    ASSERT_NE(about, nullptr) << "command " << command;
    EXPECT_EQ(::GetWindow(about, GW_OWNER), dialog);
    EXPECT_FALSE(::IsWindowEnabled(dialog)) << "the main dialog must wait while About is open";
    EXPECT_EQ(e2e::WindowText(::GetDlgItem(about, IDOK)), L"确定");
    EXPECT_NE(e2e::FindIconControl(about), nullptr);

    RECT box, owner;
    ::GetWindowRect(about, &box);
    ::GetWindowRect(dialog, &owner);
    EXPECT_NEAR((box.left + box.right) / 2, (owner.left + owner.right) / 2, 1) << "centred over the main dialog";
    EXPECT_NEAR((box.top + box.bottom) / 2, (owner.top + owner.bottom) / 2, 1);

    ::PostMessageW(about, WM_COMMAND, IDOK, 0);
    ExpectClosedAndMainDialogAsBefore(about);
  }
}

TEST_F(AboutBox, ClosesWithOkEscapeAndItsCloseBox) {
  Select(1, 42);
  const std::function<void(HWND)> closes[] = {[](HWND about) { e2e::TypeKeys(about, {VK_RETURN}); },
                                              [](HWND about) { e2e::TypeKeys(about, {VK_ESCAPE}); },
                                              [](HWND about) { ::PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0); }};
  for (const auto& close : closes) {
    HWND about = OpenAbout();
    ASSERT_NE(about, nullptr);
    close(about);
    ExpectClosedAndMainDialogAsBefore(about);
  }
}

TEST_F(AboutBox, HelpFromAboutLeavesItModalOverTheMainDialog) {
  Select(1, 42);
  HWND about = OpenAbout();
  ASSERT_NE(about, nullptr);
  ExpectHelpOwnedBy(about);
  ::PostMessageW(about, WM_COMMAND, IDOK, 0);
  ExpectClosedAndMainDialogAsBefore(about);
}

TEST_F(AboutBox, OtherSystemCommandsKeepTheirUsualMeaning) {
  RECT before, after;
  ::GetWindowRect(dialog, &before);
  ::SetForegroundWindow(dialog);
  ::PostMessageW(dialog, WM_SYSCOMMAND, SC_MOVE, 0);  // the system menu's Move, by keyboard
  ::Sleep(200);
  e2e::TypeKeys(dialog, {VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN});
  ::GetWindowRect(dialog, &after);
  EXPECT_GT(after.top, before.top) << "the dialog did not move down";
  EXPECT_EQ(karvo->WaitForOwnedDialog(dialog, kAboutCaption, 200), nullptr);

  ::PostMessageW(dialog, WM_SYSCOMMAND, 0x0020, 0);  // a neighbour of the About command
  e2e::Sync(dialog);
  EXPECT_EQ(karvo->WaitForOwnedDialog(dialog, kAboutCaption, 300), nullptr);
  ExpectStillRunning();
}

}  // namespace
