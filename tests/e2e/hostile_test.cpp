// Messages another process may send Karvo that no user could: huge and odd
// list entries, impossible selections, unknown system commands, a calculate
// command while the About box is open. Nothing may crash or read too far, and
// every answer must still follow the atoi rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main_dialog_fixture.h"
// after windows.h
#include <psapi.h>

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
    return e2e::AnswerText(0, std::to_wstring(capacity), std::to_wstring(capacity * 1028 - 4));
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
    EXPECT_EQ(karvo->PressCalculate(300), nullptr) << index;
  }
  ExpectStillRunning();
}

TEST_F(HostileMessages, UnknownSystemCommandsDoNothing) {
  for (WPARAM command : {0x0000u, 0x0001u, 0x000Fu, 0x0020u, 0x0100u, 0x7FFFu, 0xEFF0u, 0x12345670u}) {
    ::PostMessageW(dialog, WM_SYSCOMMAND, command, 0x7FFF7FFF);
    e2e::Sync(dialog);
  }
  ::Sleep(200);
  EXPECT_EQ(karvo->TopLevelWindows(), std::vector<HWND>{dialog});
  EXPECT_TRUE(::IsWindowEnabled(dialog));
  EXPECT_EQ(Calculate().text, Fat32Answer(1));
  ExpectStillRunning();
}

TEST_F(HostileMessages, CalculateWhileAboutIsOpenAnswersAndLeavesAboutOpen) {
  HWND about = karvo->OpenAbout();
  ASSERT_NE(about, nullptr);
  const e2e::ResultBox answer = karvo->Calculate(1, 120);
  EXPECT_EQ(answer.text, L"您选择的格式为NTFS,分区容量为120GB,实际容量应为 122885 MB.");
  EXPECT_TRUE(::IsWindow(about)) << "the About box is still open";
  ::PostMessageW(about, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitForMainDialogAlone());
  EXPECT_TRUE(::IsWindowEnabled(dialog));
  ExpectStillRunning();
}

// Values another process might pass as WM_INITDIALOG's lParam: none, small
// and huge numbers, and addresses inside Karvo's own image (its header, and
// each of its sections, writable data among them).
std::vector<LPARAM> AssortedInitParams(HANDLE process) {
  std::vector<LPARAM> params = {0, 1, 0x10, -1, 0x7FFFFFFF, static_cast<LPARAM>(0x80000000u)};
  HMODULE module = nullptr;
  DWORD needed = 0;
  if (!::EnumProcessModules(process, &module, sizeof module, &needed) || module == nullptr) {
    ADD_FAILURE() << "cannot find Karvo's image";
    return params;
  }
  const auto* base = reinterpret_cast<const BYTE*>(module);
  IMAGE_DOS_HEADER dos{};
  IMAGE_NT_HEADERS32 nt{};
  SIZE_T read = 0;
  ::ReadProcessMemory(process, base, &dos, sizeof dos, &read);
  ::ReadProcessMemory(process, base + dos.e_lfanew, &nt, sizeof nt, &read);
  params.push_back(reinterpret_cast<LPARAM>(base));
  const BYTE* sections =
      base + dos.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
  for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section{};
    ::ReadProcessMemory(process, sections + i * sizeof section, &section, sizeof section, &read);
    params.push_back(reinterpret_cast<LPARAM>(base + section.VirtualAddress));
    params.push_back(reinterpret_cast<LPARAM>(base + section.VirtualAddress + 0x40));
  }
  EXPECT_GT(params.size(), 10u) << "Karvo's sections were not read";
  return params;
}

void SendInitDialogs(HWND window, const std::vector<LPARAM>& params) {
  for (LPARAM param : params) {
    DWORD_PTR answer = 0;
    ::SendMessageTimeoutW(window, WM_INITDIALOG, 0, param, SMTO_ABORTIFHUNG, 2000, &answer);
  }
}

TEST_F(HostileMessages, ForeignInitDialogMessagesAreIgnored) {
  const std::vector<LPARAM> params = AssortedInitParams(karvo->Handle());
  SendInitDialogs(dialog, params);
  EXPECT_EQ(e2e::ComboEntries(capacityList).size(), 300u) << "the dialog was initialised again";
  EXPECT_EQ(Calculate(1, 120).text, L"您选择的格式为NTFS,分区容量为120GB,实际容量应为 122885 MB.");

  for (int round = 0; round < 2; ++round) {
    HWND about = karvo->OpenAbout();
    ASSERT_NE(about, nullptr) << "About no longer opens";
    if (round == 0) SendInitDialogs(about, params);
    ::PostMessageW(about, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitForMainDialogAlone()) << "the About box does not close";
  }
  EXPECT_TRUE(::IsWindowEnabled(dialog));
  EXPECT_EQ(Calculate().text, L"您选择的格式为NTFS,分区容量为120GB,实际容量应为 122885 MB.");
  ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  ExpectEndsWithin(5000);
}

}  // namespace
