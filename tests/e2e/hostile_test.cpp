// Messages another process may send Karvo that no user could: huge and odd
// list entries, impossible selections, unknown system commands, a calculate
// command while the About box is open. Nothing may crash or read too far, and
// every answer must still follow the atoi rule.
#include <gtest/gtest.h>

#include <string>

#include "main_dialog_fixture.h"

namespace {

using e2e::MainDialog;

class HostileMessages : public MainDialog {
 protected:
  // Puts a text into the capacity list, selects it and calculates with FAT32.
  std::wstring AnswerFor(const std::wstring& text) {
    const LRESULT index = ::SendMessageW(capacityList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    EXPECT_GE(index, 300);
    ::SendMessageW(capacityList, CB_SETCURSEL, index, 0);
    ::SendMessageW(formatList, CB_SETCURSEL, 0, 0);
    return Calculate().text;
  }

  static std::wstring Fat32Answer(long long capacity) {
    return L"您选择的格式为FAT32,分区容量为" + std::to_wstring(capacity) + L"GB,实际容量应为 " +
           std::to_wstring(capacity * 1028 - 4) + L" MB.";
  }
};

TEST_F(HostileMessages, HugeEntriesAreReadOnlyAsFarAsTheBuffer) {
  EXPECT_EQ(AnswerFor(std::wstring(10000, L'x')), Fat32Answer(0));
  EXPECT_EQ(AnswerFor(L"75" + std::wstring(10000, L' ')), Fat32Answer(75));
  // Digits beyond the 99th character are never read.
  EXPECT_EQ(AnswerFor(std::wstring(97, L' ') + L"12345"), Fat32Answer(12));
  // 10,000 digits: the 99 that are read clamp to the largest 32-bit value.
  EXPECT_EQ(AnswerFor(std::wstring(10000, L'9')),
            L"您选择的格式为FAT32,分区容量为2147483647GB,实际容量应为 2147483647 MB.");
  ExpectStillRunning();
}

TEST_F(HostileMessages, NonAsciiAndControlCharactersAreNotDigitsOrBlanks) {
  struct Case {
    std::wstring text;
    long long capacity;
  };
  const Case cases[] = {
      {L"１２３", 0},   // full-width digits
      {L"٣٤", 0},       // Arabic-Indic digits
      {L"\u00A05", 0},  // no-break space is not a blank for atoi
      {L"\u3000"
       L"5",
       0},                     // nor the ideographic space
      {L"\x0001\x0002 7", 0},  // control characters
      {L"\t\r\n\v\f 42", 42},  // the six blanks atoi skips
      {L"\U0001F600"
       L"5",
       0},                                                        // a character outside the basic plane
      {std::wstring(1, static_cast<wchar_t>(0xD800)) + L"5", 0},  // a lone surrogate
      {L"8\U0001F600", 8},
      {L"-0", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(AnswerFor(c.text), Fat32Answer(c.capacity));
  ExpectStillRunning();
}

TEST_F(HostileMessages, SelectionsOutOfRangeFollowTheRules) {
  // An impossible capacity index is refused; the answer is for whatever text
  // the list then shows (none on Windows, the old entry under Wine).
  EXPECT_EQ(::SendMessageW(capacityList, CB_SETCURSEL, 5000, 0), CB_ERR);
  const std::wstring shown = e2e::WindowText(capacityList);
  EXPECT_EQ(Calculate().text, Fat32Answer(shown.empty() ? 0 : std::stoll(shown)));

  // A format entry from outside at index 2 names no file system: nothing happens.
  ::SendMessageW(formatList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"exFAT"));
  for (WPARAM index : {WPARAM{2}, WPARAM{5000}, static_cast<WPARAM>(-1)}) {
    ::SendMessageW(formatList, CB_SETCURSEL, index, 0);
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    e2e::Sync(dialog);
    EXPECT_EQ(karvo.WaitForOwnedDialog(dialog, e2e::kResultCaption, 300), nullptr) << index;
  }
  ExpectStillRunning();
}

TEST_F(HostileMessages, UnknownSystemCommandsDoNothing) {
  for (WPARAM command : {0x0000u, 0x0001u, 0x000Fu, 0x0020u, 0x0100u, 0x7FFFu, 0xEFF0u, 0x12345670u}) {
    ::PostMessageW(dialog, WM_SYSCOMMAND, command, 0x7FFF7FFF);
    e2e::Sync(dialog);
  }
  ::Sleep(200);
  EXPECT_EQ(karvo.TopLevelWindows(), std::vector<HWND>{dialog});
  EXPECT_TRUE(::IsWindowEnabled(dialog));
  EXPECT_EQ(Calculate().text, Fat32Answer(1));
  ExpectStillRunning();
}

TEST_F(HostileMessages, CalculateWhileAboutIsOpenAnswersAndLeavesAboutOpen) {
  ::PostMessageW(dialog, WM_SYSCOMMAND, 0x0010, 0);
  HWND about = karvo.WaitForOwnedDialog(dialog, L"关于 Karvo");
  ASSERT_NE(about, nullptr);
  Select(1, 120);
  ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  HWND box = karvo.WaitForOwnedDialog(dialog, e2e::kResultCaption);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::ReadMessageBox(box).text, L"您选择的格式为NTFS,分区容量为120GB,实际容量应为 122885 MB.");
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  for (int i = 0; i < 250 && ::IsWindow(box); ++i) ::Sleep(20);
  EXPECT_TRUE(::IsWindow(about)) << "the About box is still open";
  ::PostMessageW(about, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitForMainDialogAlone());
  EXPECT_TRUE(::IsWindowEnabled(dialog));
  ExpectStillRunning();
}

}  // namespace
