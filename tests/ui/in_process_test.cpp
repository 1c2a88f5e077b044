// The dialog classes and the framework layer, run inside the test's own
// process: what Wine will not show to another process (icons, painting while
// minimized, menus) and the framework's own rules.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <string>
#include <vector>

#include "e2e/driver.h"
#include "platform/afxwin.h"
#include "res/resource.h"
#include "support/import_hook.h"
#include "support/karvo_dialog.h"
#include "support/run_dialog.h"
#include "ui/karvo_dlg.h"

namespace {

using testing_support::Dismiss;
using testing_support::OpenOwnedBox;
using testing_support::RunDialogWhile;

using testing_support::InspectableKarvoDlg;
using testing_support::testApp;

TEST(KarvoDialog, ShowsTheApplicationIconInCaptionTaskBarAndDrag) {
  InspectableKarvoDlg dialog;
  const HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP_ICON));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(dialog.m_hIcon, icon);
  RunDialogWhile(dialog, [&](HWND window) {
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0)), icon);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0)), icon);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(window, WM_QUERYDRAGICON, 0, 0)), icon);
  });
}

// Records the WM_ICONERASEBKGND that the minimized painting sends itself and
// the DrawIcon calls it makes. Wine gives a minimized window no client area,
// so what is painted cannot be read back from the screen; the call itself,
// taken from the program's import table, shows what is drawn and where.
std::atomic<HDC> g_iconEraseDc{nullptr};
WNDPROC g_dialogProc = nullptr;
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ICONERASEBKGND) g_iconEraseDc = reinterpret_cast<HDC>(wParam);
  return ::CallWindowProcW(g_dialogProc, window, message, wParam, lParam);
}

struct DrawIconCall {
  HDC dc;
  int x;
  int y;
  HICON icon;
};
std::vector<DrawIconCall> g_drawIconCalls;
BOOL(WINAPI* g_realDrawIcon)(HDC, int, int, HICON) = nullptr;
BOOL WINAPI RecordingDrawIcon(HDC dc, int x, int y, HICON icon) {
  g_drawIconCalls.push_back({dc, x, y, icon});
  return g_realDrawIcon(dc, x, y, icon);
}

TEST(KarvoDialog, PaintsItsIconCentredOnlyWhileMinimized) {
  testing_support::ImportHook hook("user32.dll", "DrawIcon", reinterpret_cast<void*>(&RecordingDrawIcon));
  ASSERT_TRUE(hook.installed());
  g_realDrawIcon = reinterpret_cast<decltype(g_realDrawIcon)>(hook.original());
  InspectableKarvoDlg dialog;
  RunDialogWhile(dialog, [&](HWND window) {
    g_dialogProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc)));
    g_iconEraseDc = nullptr;
    g_drawIconCalls.clear();
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(g_iconEraseDc.load(), nullptr) << "a normal window paints as usual";
    EXPECT_TRUE(g_drawIconCalls.empty());

    ::ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(::IsIconic(window));
    // Wine never asks a minimized window to paint; ask directly, as Windows would.
    ::SendMessageW(window, WM_PAINT, 0, 0);
    ASSERT_NE(g_iconEraseDc.load(), nullptr) << "the minimized branch erases behind the icon with the paint DC";
    ASSERT_EQ(g_drawIconCalls.size(), 1u);
    const DrawIconCall call = g_drawIconCalls.front();
    RECT client{};
    ::GetClientRect(window, &client);
    const int cx = ::GetSystemMetrics(SM_CXICON);
    const int cy = ::GetSystemMetrics(SM_CYICON);
    EXPECT_EQ(call.dc, g_iconEraseDc.load()) << "drawn into the paint DC";
    EXPECT_EQ(call.icon, dialog.m_hIcon);
    EXPECT_EQ(call.x, (client.right - client.left - cx + 1) / 2);
    EXPECT_EQ(call.y, (client.bottom - client.top - cy + 1) / 2);

    ::ShowWindow(window, SW_RESTORE);
    EXPECT_FALSE(::IsIconic(window));
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_dialogProc));
  });
}

TEST(KarvoDialog, AnswersWithTheInformationIcon) {
  InspectableKarvoDlg dialog;
  RunDialogWhile(dialog, [&](HWND window) {
    HWND box = OpenOwnedBox(window, WM_COMMAND, IDOK);
    ASSERT_NE(box, nullptr);
    const e2e::ResultBox answer = e2e::ReadMessageBox(box);
    ASSERT_NE(answer.icon, nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(answer.icon, STM_GETICON, 0, 0)),
              ::LoadIconW(nullptr, IDI_INFORMATION));
    EXPECT_EQ(answer.buttons, std::vector<int>{IDOK}) << "an OK button and nothing else";
    Dismiss(box);
  });
}

TEST(KarvoDialog, GoesOnAnsweringWhenASessionEndIsCancelled) {
  InspectableKarvoDlg dialog;
  const INT_PTR result = RunDialogWhile(dialog, [&](HWND window) {
    // Another program refused WM_QUERYENDSESSION: Windows tells each program
    // that the session goes on.
    EXPECT_NE(::SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), 0) << "Karvo refused the session end";
    ::SendMessageW(window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);
    HWND box = OpenOwnedBox(window, WM_COMMAND, IDOK);
    ASSERT_NE(box, nullptr) << "Karvo no longer answers";
    Dismiss(box);
  });
  EXPECT_EQ(result, IDCANCEL) << "the dialog ended with a session that did not";
}

TEST(KarvoDialog, ReturnsCancelAndClearsTheMainWindowPointer) {
  InspectableKarvoDlg dialog;
  testApp.m_pMainWnd = &dialog;
  std::atomic<bool> wasMain{false};
  EXPECT_EQ(RunDialogWhile(dialog, [&](HWND) { wasMain = true; }), IDCANCEL);
  EXPECT_TRUE(wasMain);
  EXPECT_EQ(testApp.m_pMainWnd, nullptr);
  EXPECT_EQ(dialog.m_hWnd, nullptr);
}

TEST(KarvoDialog, SystemMenuEndsWithASeparatorAndTheAboutItem) {
  InspectableKarvoDlg dialog;
  RunDialogWhile(dialog, [&](HWND window) {
    HMENU menu = ::GetSystemMenu(window, FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = ::GetMenuItemCount(menu);
    ASSERT_GE(count, 3) << "the window system's own items come first";
    MENUITEMINFOW separator{};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_FTYPE | MIIM_ID;
    ASSERT_TRUE(::GetMenuItemInfoW(menu, count - 2, TRUE, &separator));
    EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
    EXPECT_EQ(separator.wID, 0u);

    wchar_t text[64] = {};
    MENUITEMINFOW about{};
    about.cbSize = sizeof about;
    about.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    about.dwTypeData = text;
    about.cch = 64;
    ASSERT_TRUE(::GetMenuItemInfoW(menu, count - 1, TRUE, &about));
    EXPECT_EQ(about.fType, MFT_STRING);
    EXPECT_EQ(about.wID, static_cast<UINT>(IDM_ABOUT));
    EXPECT_STREQ(text, L"关于 Karvo(&A)...");
  });
}

// Whether a control's window procedure lives in the common-controls assembly
// of version 6 (Wine's copy reports 5.x from DllGetVersion, so ask the path).
::testing::AssertionResult FromCommonControls6(HWND control) {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(::GetClassLongPtrW(control, GCLP_WNDPROC)), &module);
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(module, path, MAX_PATH);
  std::wstring lower(path);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(::towlower(c));
  if (lower.find(L"common-controls_6595b64144ccf1df_6.0") != std::wstring::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "control " << ::GetDlgCtrlID(control) << " from "
                                       << std::string(lower.begin(), lower.end());
}

std::vector<HWND> Children(HWND window) {
  std::vector<HWND> children;
  for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

TEST(KarvoDialog, EveryControlOfBothDialogsComesFromCommonControlsVersion6) {
  InspectableKarvoDlg dialog;
  testApp.m_pMainWnd = &dialog;
  RunDialogWhile(dialog, [&](HWND window) {
    const std::vector<HWND> controls = Children(window);
    EXPECT_EQ(controls.size(), 9u) << "buttons, group box, texts and lists";
    bool groupBox = false;
    for (HWND control : controls) {
      EXPECT_TRUE(FromCommonControls6(control));
      groupBox = groupBox || (::GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
    }
    EXPECT_TRUE(groupBox) << "the group box was among them";

    // Version 6 lists size their opened list themselves (30 entries at most
    // by default), which is what tells the framework to leave them alone.
    for (int id : {IDC_FORMAT_LIST, IDC_CAPACITY_LIST}) {
      EXPECT_EQ(::SendMessageW(::GetDlgItem(window, id), CB_GETMINVISIBLE, 0, 0), 30) << id;
    }
    // A message only version 6 buttons answer.
    SIZE ideal{};
    EXPECT_TRUE(::SendMessageW(::GetDlgItem(window, IDOK), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));
    EXPECT_GT(ideal.cx, 0);

    HWND about = OpenOwnedBox(window, WM_SYSCOMMAND, IDM_ABOUT);
    ASSERT_NE(about, nullptr) << "the About box did not open";
    const std::vector<HWND> aboutControls = Children(about);
    EXPECT_EQ(aboutControls.size(), 4u) << "icon, two texts and OK";
    for (HWND control : aboutControls) EXPECT_TRUE(FromCommonControls6(control));
    Dismiss(about);
  });
  testApp.m_pMainWnd = nullptr;
}

TEST(Framework, DoModalOfAMissingTemplateFailsAtOnceAndLeavesNoDanglingMainWindow) {
  {
    CDialog missing(4242);
    testApp.m_pMainWnd = &missing;
    EXPECT_EQ(missing.DoModal(), -1);
    EXPECT_EQ(missing.m_hWnd, nullptr);
  }
  EXPECT_EQ(testApp.m_pMainWnd, nullptr) << "a destroyed window object must not stay the main window";
}

// The main dialog with a way to run its data exchange on its own thread.
class ExchangingKarvoDlg : public InspectableKarvoDlg {
 public:
  using CKarvoDlg::m_strCapacity;
  using CKarvoDlg::m_strFormat;
  // Commands of its own, sent as menu items are.
  static constexpr WPARAM kSave = 3001;
  static constexpr WPARAM kLoad = 3002;
  DECLARE_MESSAGE_MAP()

 private:
  void OnSave() { UpdateData(TRUE); }
  void OnLoad() { UpdateData(FALSE); }
};

BEGIN_MESSAGE_MAP(ExchangingKarvoDlg, CKarvoDlg)
ON_COMMAND(ExchangingKarvoDlg::kSave, ExchangingKarvoDlg::OnSave)
ON_COMMAND(ExchangingKarvoDlg::kLoad, ExchangingKarvoDlg::OnLoad)
END_MESSAGE_MAP()

TEST(Framework, DataExchangeOfAComboBoxTextGoesBothWays) {
  ExchangingKarvoDlg dialog;
  RunDialogWhile(dialog, [&](HWND window) {
    HWND format = ::GetDlgItem(window, IDC_FORMAT_LIST);
    HWND capacity = ::GetDlgItem(window, IDC_CAPACITY_LIST);
    // From the lists to the members: each list's selected text.
    ::SendMessageW(format, CB_SETCURSEL, 1, 0);
    ::SendMessageW(capacity, CB_SETCURSEL, 119, 0);
    ::SendMessageW(window, WM_COMMAND, ExchangingKarvoDlg::kSave, 0);
    EXPECT_EQ(dialog.m_strFormat, CString(L"NTFS"));
    EXPECT_EQ(dialog.m_strCapacity, CString(L"120"));

    // From the members to the lists: the first entry that starts with the text.
    dialog.m_strFormat = CString(L"FAT32");
    dialog.m_strCapacity = CString(L"25");
    ::SendMessageW(window, WM_COMMAND, ExchangingKarvoDlg::kLoad, 0);
    EXPECT_EQ(::SendMessageW(format, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(::SendMessageW(capacity, CB_GETCURSEL, 0, 0), 24) << "25 comes before 250";

    // An empty text, or one no entry starts with, leaves the selection as it was.
    dialog.m_strFormat = CString();
    dialog.m_strCapacity = CString(L"x9");
    ::SendMessageW(window, WM_COMMAND, ExchangingKarvoDlg::kLoad, 0);
    EXPECT_EQ(::SendMessageW(format, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(::SendMessageW(capacity, CB_GETCURSEL, 0, 0), 24);
  });
}

TEST(Framework, DataExchangeOfAComboBox) {
  InspectableKarvoDlg dialog;
  RunDialogWhile(dialog, [&](HWND window) {
    HWND capacity = ::GetDlgItem(window, IDC_CAPACITY_LIST);
    EXPECT_EQ(dialog.m_cbCapacity.m_hWnd, capacity);
    EXPECT_EQ(dialog.m_cbFormat.m_hWnd, ::GetDlgItem(window, IDC_FORMAT_LIST));
    EXPECT_EQ(::SendMessageW(capacity, CB_GETCOUNT, 0, 0), 300);
  });
}

TEST(CStringTest, WidensUtf8AndCutsTextsThatDoNotFit) {
  EXPECT_EQ(CString::FromUtf8("计算结果"), CString(L"计算结果"));
  EXPECT_TRUE(CString::FromUtf8("").IsEmpty());
  const std::wstring longText(CString::kCapacity * 2, L'x');
  EXPECT_EQ(CString(longText).GetLength(), CString::kCapacity - 1);

  CString formatted;
  formatted.Format(L"%d", -2147483647 - 1);
  EXPECT_EQ(formatted, CString(L"-2147483648"));
}

TEST(CStringTest, FromUtf8TakesAWholeBufferAndCutsOnlyBeyondIt) {
  constexpr std::size_t kFits = CString::kCapacity - 1;
  EXPECT_EQ(CString::FromUtf8(std::string(kFits, 'y')).GetLength(), static_cast<int>(kFits)) << "exactly full";
  EXPECT_EQ(CString::FromUtf8(std::string(kFits + 1, 'z')).GetLength(), static_cast<int>(kFits)) << "one more";
  const std::string ascii(kFits + 100, 'x');
  EXPECT_TRUE(CString::FromUtf8(ascii).view() == std::wstring(kFits, L'x'));

  // Beyond the buffer's length in bytes the cut comes before a whole
  // character: three bytes each, four for a surrogate pair.
  std::string chinese;
  for (std::size_t i = 0; i < kFits; ++i) chinese += "计";
  EXPECT_TRUE(CString::FromUtf8(chinese).view() == std::wstring(kFits / 3, L'计'));
  std::string faces = "a";
  for (int i = 0; i < CString::kCapacity; ++i) faces += "\U0001F600";
  const CString cut = CString::FromUtf8(faces);
  EXPECT_EQ(cut.GetLength(), 1 + 2 * static_cast<int>((kFits - 1) / 4));
  EXPECT_TRUE(IS_LOW_SURROGATE(cut.view().back()));

  // Malformed bytes widen one unit each (U+FFFD), so they fit as well.
  const CString broken = CString::FromUtf8("\xE8\xAE\xFF" + ascii);
  EXPECT_GE(broken.GetLength(), static_cast<int>(kFits) - 3);
  EXPECT_LE(broken.GetLength(), static_cast<int>(kFits));
  EXPECT_EQ(broken.view().back(), L'x');
}

TEST(CStringTest, LoadsStringsAndGivesEmptyForAMissingOne) {
  CString text;
  EXPECT_FALSE(text.LoadString(9999));
  EXPECT_TRUE(text.IsEmpty());
}

TEST(CStringTest, NarrowsAWholeWindowTextToUtf8) {
  wchar_t text[4] = L"12a";
  char buffer[3 * 4];
  EXPECT_EQ(WideToUtf8(text, buffer), 3);
  EXPECT_STREQ(buffer, "12a");
  text[0] = L'\0';
  EXPECT_EQ(WideToUtf8(text, buffer), 0);
  EXPECT_STREQ(buffer, "");

  // A full array of three-byte characters, without its terminator: every
  // unit before the last is taken, and the bytes just fit.
  wchar_t chinese[100];
  std::fill(std::begin(chinese), std::end(chinese), L'计');
  char chineseUtf8[3 * 100];
  EXPECT_EQ(WideToUtf8(chinese, chineseUtf8), 3 * 99);
  std::string expected;
  for (int i = 0; i < 99; ++i) expected += "计";
  EXPECT_EQ(std::string(chineseUtf8), expected);
  wchar_t face[3] = L"\U0001F600";
  char faceUtf8[3 * 3];
  EXPECT_EQ(WideToUtf8(face, faceUtf8), 4);
  EXPECT_STREQ(faceUtf8, "\U0001F600");
}

}  // namespace
