// The main dialog, driven from outside the process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "main_dialog_fixture.h"

namespace {

using e2e::AnswerText;
using e2e::KarvoProcess;
using e2e::kCapacityList;
using e2e::kFormatList;
using e2e::kResultCaption;
using e2e::MainDialog;
using testing_support::Dismiss;

TEST(Environment, RunsUnderTheExpectedCodePage) {
  const char* expected = std::getenv("KARVO_EXPECT_ACP");
  if (expected == nullptr) GTEST_SKIP() << "no code page requested";
  EXPECT_EQ(::GetACP(), static_cast<UINT>(std::atoi(expected)));
}

TEST_F(MainDialog, StartsWithBothListsFilledAndTheirFirstEntriesSelected) {
  EXPECT_EQ(e2e::ComboEntries(formatList), (std::vector<std::wstring>{L"FAT32", L"NTFS"}));
  const auto capacities = e2e::ComboEntries(capacityList);
  ASSERT_EQ(capacities.size(), 300u);
  for (int i = 1; i <= 300; ++i) EXPECT_EQ(capacities[i - 1], std::to_wstring(i));
  EXPECT_EQ(e2e::ComboSelection(formatList), 0);
  EXPECT_EQ(e2e::ComboSelection(capacityList), 0);
  EXPECT_EQ(e2e::WindowText(formatList), L"FAT32");
  EXPECT_EQ(e2e::WindowText(capacityList), L"1");
}

TEST_F(MainDialog, ShowsItsTextsCentredWithTheFocusOnCalculate) {
  EXPECT_EQ(e2e::WindowText(::GetDlgItem(dialog, IDOK)), L"计算");
  EXPECT_EQ(e2e::WindowText(::GetDlgItem(dialog, IDCANCEL)), L"取消");
  EXPECT_EQ(::GetWindow(dialog, GW_OWNER), nullptr);
  EXPECT_TRUE(::GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);

  RECT window, work;
  ::GetWindowRect(dialog, &window);
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  // Centred in the work area to the pixel; an odd pixel left over stays right and below.
  EXPECT_EQ(window.left, work.left + (work.right - work.left - (window.right - window.left)) / 2);
  EXPECT_EQ(window.top, work.top + (work.bottom - work.top - (window.bottom - window.top)) / 2);

  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  ASSERT_TRUE(::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &gui));
  EXPECT_EQ(gui.hwndFocus, ::GetDlgItem(dialog, IDOK));
}

TEST_F(MainDialog, AnswersTheWorkedValuesInAnInformationBoxOwnedByTheDialog) {
  const e2e::ResultBox first = Calculate();
  EXPECT_EQ(first.caption, kResultCaption);
  EXPECT_EQ(first.text, L"您选择的格式为FAT32,分区容量为1GB,实际容量应为 1024 MB.");
  EXPECT_EQ(first.owner, dialog);
  EXPECT_NE(first.icon, nullptr);
  // An OK button and nothing else (which icon it shows is checked in-process,
  // where the system's icon handles can be compared).
  EXPECT_EQ(first.buttons, std::vector<int>{IDOK});

  struct Row {
    int capacity;
    const wchar_t* fat32;
    const wchar_t* ntfs;
  };
  for (const Row& row : {Row{2, L"2052", L"2053"}, Row{10, L"10276", L"10245"}, Row{100, L"102796", L"102405"},
                         Row{300, L"308396", L"307205"}}) {
    const std::wstring gb = std::to_wstring(row.capacity);
    EXPECT_EQ(Calculate(0, row.capacity).text, AnswerText(0, gb, row.fat32));
    EXPECT_EQ(Calculate(1, row.capacity).text, AnswerText(1, gb, row.ntfs));
  }
}

TEST_F(MainDialog, NtfsAnd120Give122885OneBoxPerPressWithSelectionsKept) {
  Select(1, 120);
  for (int press = 0; press < 3; ++press) {
    HWND box = karvo->PressCalculate();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(karvo->TopLevelWindows().size(), 2u) << "one box per press";
    EXPECT_EQ(ReadAndDismissAnswer(box).text, L"您选择的格式为NTFS,分区容量为120GB,实际容量应为 122885 MB.");
    EXPECT_EQ(e2e::ComboSelection(formatList), 1);
    EXPECT_EQ(e2e::ComboSelection(capacityList), 119);
    EXPECT_TRUE(::IsWindowEnabled(dialog));
  }
}

TEST_F(MainDialog, EnterCalculatesAndEscapeEnds) {
  Select(1, 2);
  e2e::TypeKeys(dialog, {VK_RETURN});
  HWND box = karvo->WaitForOwnedDialog(dialog, kResultCaption);
  ASSERT_NE(box, nullptr) << "Enter did not calculate";
  EXPECT_EQ(e2e::ReadMessageBox(box).text, L"您选择的格式为NTFS,分区容量为2GB,实际容量应为 2053 MB.");
  e2e::TypeKeys(box, {VK_RETURN});  // Enter dismisses the box ...
  ASSERT_TRUE(WaitForMainDialogAlone());
  ExpectStillRunning();  // ... and only the box
  e2e::TypeKeys(dialog, {VK_ESCAPE});
  ExpectEndsWithin(5000);
}

TEST_F(MainDialog, EnterOnTheFocusedCancelButtonEnds) {
  e2e::TypeKeys(dialog, {VK_TAB});
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &gui);
  ASSERT_EQ(gui.hwndFocus, ::GetDlgItem(dialog, IDCANCEL));
  e2e::TypeKeys(dialog, {VK_RETURN});
  ExpectEndsWithin(5000);
}

TEST_F(MainDialog, ADroppedDownListTakesEnterAndEscapeForItself) {
  e2e::TypeKeys(dialog, {VK_TAB, VK_TAB});  // calculate, cancel, then the format list
  for (WORD key : {VK_ESCAPE, VK_RETURN}) {
    e2e::TypeKeys(dialog, {VK_DOWN}, {VK_MENU});  // Alt+Down opens the list, as a user would
    ASSERT_TRUE(::SendMessageW(formatList, CB_GETDROPPEDSTATE, 0, 0)) << "key " << key;
    e2e::TypeKeys(dialog, {key});
    EXPECT_FALSE(::SendMessageW(formatList, CB_GETDROPPEDSTATE, 0, 0)) << "key " << key;
    EXPECT_EQ(karvo->WaitForOwnedDialog(dialog, kResultCaption, 500), nullptr) << "key " << key;
    ExpectStillRunning();
  }
}

// Each way out ends Karvo and leaves no window: the cancel button, the
// system menu's Close, Alt+F4 and a WM_CLOSE from outside, each in a Karvo of its own.
TEST_F(MainDialog, EveryWayOutEndsAndLeavesNoWindow) {
  const std::function<void()> waysOut[] = {[&] { ::PostMessageW(::GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0); },
                                           [&] { ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); },
                                           [&] { e2e::TypeKeys(dialog, {VK_F4}, {VK_MENU}); },
                                           [&] { ::PostMessageW(dialog, WM_CLOSE, 0, 0); }};
  for (std::size_t i = 0; i < std::size(waysOut); ++i) {
    if (i != 0) Start(testing_support::PathArgument());
    waysOut[i]();
    ExpectEndsWithin(5000);
    EXPECT_FALSE(::IsWindow(dialog)) << "way out " << i;
  }
}

TEST_F(MainDialog, NoFormatSelectionMakesCalculateDoNothing) {
  ::SendMessageW(formatList, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  ASSERT_EQ(e2e::ComboSelection(formatList), -1);
  EXPECT_EQ(karvo->PressCalculate(500), nullptr);
  ExpectStillRunning();
  ::SendMessageW(formatList, CB_SETCURSEL, 0, 0);
  EXPECT_EQ(Calculate().text, L"您选择的格式为FAT32,分区容量为1GB,实际容量应为 1024 MB.");
}

TEST_F(MainDialog, CapacityTextsFromOutsideGiveTheAtoiAnswer) {
  struct Case {
    std::string text;
    const wchar_t* capacity;
    const wchar_t* fat32;
    const wchar_t* ntfs;
  };
  const Case cases[] = {
      {"   12abc", L"12", L"12332", L"12293"},
      {"+7", L"7", L"7192", L"7173"},
      {"-3", L"-3", L"-3088", L"-3067"},
      {"", L"0", L"-4", L"5"},
      {"abc", L"0", L"-4", L"5"},
      {"\t 9", L"9", L"9248", L"9221"},
      // 150 digits, of which the dialog reads 99: beyond 32 bits, clamped.
      {std::string(150, '7'), L"2147483647", L"2147483647", L"2147483647"},
      {"42" + std::string(5000, 'x'), L"42", L"43172", L"43013"},
  };
  for (const Case& c : cases) {
    const std::wstring wide(c.text.begin(), c.text.end());
    const LRESULT index = ::SendMessageW(capacityList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    ASSERT_GE(index, 300);
    ::SendMessageW(capacityList, CB_SETCURSEL, index, 0);
    for (int format : {0, 1}) {
      ::SendMessageW(formatList, CB_SETCURSEL, format, 0);
      EXPECT_EQ(Calculate().text, AnswerText(format, c.capacity, format == 0 ? c.fat32 : c.ntfs))
          << '"' << c.text.substr(0, 40) << '"';
    }
  }
  ExpectStillRunning();
}

TEST_F(MainDialog, F1ReachesTheApplicationsHelpThroughTheMainWindow) {
  e2e::TypeKeys(dialog, {VK_F1});
  HWND box = karvo->WaitForOwnedDialog(dialog, L"Karvo");
  ASSERT_NE(box, nullptr) << "F1 showed nothing";
  EXPECT_EQ(e2e::ReadMessageBox(box).text, L"没有可用的帮助.");
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitForMainDialogAlone());
  ExpectStillRunning();
}

TEST_F(MainDialog, HelpFromTheAnswerLeavesTheMainDialogWaiting) {
  HWND answer = karvo->PressCalculate();
  ASSERT_NE(answer, nullptr);
  ExpectHelpOwnedBy(answer);
  ::PostMessageW(answer, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitForMainDialogAlone());
  ExpectStillRunning();
}

// The help box is the application object's: its caption is the application's
// name, which the framework takes from the executable's name. A renamed copy
// therefore answers F1 under its own name, whatever the dialog is called.
TEST(HelpRoute, ARenamedCopyAnswersF1UnderItsOwnName) {
  wchar_t folder[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring copy = std::wstring(folder) + L"KarvoHelpRoute.exe";
  ASSERT_TRUE(::CopyFileW(testing_support::PathArgument().c_str(), copy.c_str(), FALSE));
  {
    KarvoProcess renamed(copy);
    HWND dialog = renamed.WaitForMainDialog();
    ASSERT_NE(dialog, nullptr);
    e2e::TypeKeys(dialog, {VK_F1});
    HWND box = renamed.WaitForOwnedDialog(dialog, L"KarvoHelpRoute");
    ASSERT_NE(box, nullptr) << "no help box captioned with the copy's name";
    EXPECT_EQ(e2e::ReadMessageBox(box).text, L"没有可用的帮助.");
    Dismiss(box);
    EXPECT_TRUE(renamed.Close());
  }
  ::DeleteFileW(copy.c_str());
}

TEST(CommandLine, ArgumentsAreIgnored) {
  KarvoProcess karvo(testing_support::PathArgument(), L"ntfs 120 /s --help");
  HWND dialog = karvo.WaitForMainDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(e2e::ComboSelection(::GetDlgItem(dialog, kFormatList)), 0);
  EXPECT_EQ(e2e::ComboSelection(::GetDlgItem(dialog, kCapacityList)), 0);
  HWND box = karvo.PressCalculate();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::ReadMessageBox(box).text, L"您选择的格式为FAT32,分区容量为1GB,实际容量应为 1024 MB.");
  Dismiss(box);
  EXPECT_TRUE(karvo.Close());
}

// What the Restart Manager does when an installer must replace a running
// Karvo.exe: it asks each top-level window, then tells it that the session
// ends for this program. Karvo must go, whatever box is open.
TEST(SessionEnd, AnInstallersCloseRequestEndsKarvoWhateverIsOpen) {
  struct Case {
    UINT message;  // what opens a box, if anything
    WPARAM command;
    std::wstring box;
  };
  for (const Case& c : {Case{WM_NULL, 0, L""}, Case{WM_SYSCOMMAND, e2e::kAboutCommand, e2e::kAboutCaption},
                        Case{WM_COMMAND, IDOK, kResultCaption}}) {
    KarvoProcess karvo(testing_support::PathArgument());
    HWND dialog = karvo.WaitForMainDialog();
    ASSERT_NE(dialog, nullptr);
    ::PostMessageW(dialog, c.message, c.command, 0);
    if (!c.box.empty()) {
      ASSERT_NE(karvo.WaitForOwnedDialog(dialog, c.box), nullptr);
    }
    for (UINT message : {WM_QUERYENDSESSION, WM_ENDSESSION}) {
      for (HWND window : karvo.TopLevelWindows()) {
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutW(window, message, message == WM_ENDSESSION, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG, 2000,
                              &answer);
        if (message == WM_QUERYENDSESSION) {
          EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)) << "Karvo may be closed";
        }
      }
    }
    EXPECT_TRUE(karvo.WaitForExit(10000)) << "still running with \"" << c.box << "\" open";
  }
}

}  // namespace
