// The modal loop's edges, in the test's own process: a dialog whose window is
// destroyed behind its back, one that ends before it is shown, notifications
// that must not pass for commands, and messages answered by return value.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>

#include "platform/afxwin.h"
#include "res/resource.h"
#include "support/run_dialog.h"

namespace {

using testing_support::RunDialogWhile;
using testing_support::WaitForThreadDialog;

// A dialog on the main template whose behaviour each test fills in.
class ProbeDialog : public CDialog {
 public:
  ProbeDialog() : CDialog(IDD_MAIN_DIALOG) {}

  std::function<void(ProbeDialog&)> onInit;
  std::atomic<int> listCommands{0};
  HBRUSH brush = static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));

  DECLARE_MESSAGE_MAP()

 protected:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (onInit) onInit(*this);
    return TRUE;
  }
  void OnFormatList() { ++listCommands; }
  void OnDestroyCommand() { ::DestroyWindow(m_hWnd); }
  LRESULT OnColor(WPARAM, LPARAM) { return reinterpret_cast<LRESULT>(brush); }
  LRESULT OnItemQuery(WPARAM, LPARAM) { return -2; }  // "handled, no item" for the key-to-item family
  LRESULT OnCompare(WPARAM, LPARAM) { return -1; }
  LRESULT OnAppMessage(WPARAM, LPARAM) { return 0x1234; }
};

constexpr UINT kDestroyCommand = 3000;

BEGIN_MESSAGE_MAP(ProbeDialog, CDialog)
ON_COMMAND(IDC_FORMAT_LIST, ProbeDialog::OnFormatList)
ON_COMMAND(kDestroyCommand, ProbeDialog::OnDestroyCommand)
ON_MESSAGE(WM_CTLCOLORDLG, ProbeDialog::OnColor)
ON_MESSAGE(WM_CTLCOLORSTATIC, ProbeDialog::OnColor)
ON_MESSAGE(WM_CTLCOLORBTN, ProbeDialog::OnColor)
ON_MESSAGE(WM_VKEYTOITEM, ProbeDialog::OnItemQuery)
ON_MESSAGE(WM_CHARTOITEM, ProbeDialog::OnItemQuery)
ON_MESSAGE(WM_COMPAREITEM, ProbeDialog::OnCompare)
ON_MESSAGE(WM_APP, ProbeDialog::OnAppMessage)
END_MESSAGE_MAP()

// Runs DoModal; if it has not returned after a few seconds, a WM_QUIT gets
// the thread out of the loop and the test fails instead of hanging.
struct Outcome {
  INT_PTR result;
  bool returnedByItself;
};
Outcome DoModalWithWatchdog(CDialog& dialog) {
  const DWORD uiThread = ::GetCurrentThreadId();
  HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> fired{false};
  std::thread watchdog([&] {
    if (::WaitForSingleObject(done, 5000) == WAIT_TIMEOUT) {
      fired = true;
      ::PostThreadMessageW(uiThread, WM_QUIT, 0, 0);
    }
  });
  const INT_PTR result = dialog.DoModal();
  ::SetEvent(done);
  watchdog.join();
  ::CloseHandle(done);
  MSG quit;
  while (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  return {result, !fired};
}

TEST(ModalLoop, EndsWhenAHandlerDestroysTheWindow) {
  ProbeDialog dialog;
  dialog.onInit = [](ProbeDialog& self) { ::PostMessageW(self.m_hWnd, WM_COMMAND, kDestroyCommand, 0); };
  const Outcome outcome = DoModalWithWatchdog(dialog);
  EXPECT_TRUE(outcome.returnedByItself) << "DoModal went on waiting for a window that is gone";
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(dialog.m_hWnd, nullptr);
}

HWND g_owner = nullptr;
// A thread timer's callback, run by the modal loop's dispatch: code outside
// the dialog that destroys its window.
void CALLBACK DestroyTheOwnedDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  ::DestroyWindow(WaitForThreadDialog(::GetCurrentThreadId(), g_owner));
}

TEST(ModalLoop, EndsWhenCodeOutsideTheDialogDestroysItsWindowAndEnablesTheOwnerAgain) {
  g_owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr, nullptr,
                              nullptr);
  ASSERT_NE(g_owner, nullptr);
  CWnd owner;
  owner.m_hWnd = g_owner;
  CDialog dialog(IDD_ABOUT_DIALOG, &owner);
  ::SetTimer(nullptr, 0, 50, &DestroyTheOwnedDialog);
  const Outcome outcome = DoModalWithWatchdog(dialog);
  EXPECT_TRUE(outcome.returnedByItself) << "DoModal went on waiting for a window that is gone";
  EXPECT_EQ(outcome.result, -1);
  EXPECT_TRUE(::IsWindowEnabled(g_owner));
  owner.m_hWnd = nullptr;
  ::DestroyWindow(g_owner);
}

// Records whether the window system was ever asked to show the window.
std::atomic<bool> g_everShown{false};
WNDPROC g_dialogProc = nullptr;
LRESULT CALLBACK ShowRecorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SHOWWINDOW && wParam) g_everShown = true;
  if (message == WM_WINDOWPOSCHANGING && (reinterpret_cast<WINDOWPOS*>(lParam)->flags & SWP_SHOWWINDOW)) {
    g_everShown = true;
  }
  return ::CallWindowProcW(g_dialogProc, window, message, wParam, lParam);
}

TEST(ModalLoop, EndDialogDuringInitialisationReturnsItsCodeWithoutShowingTheWindow) {
  ProbeDialog dialog;  // its template is WS_VISIBLE
  g_everShown = false;
  dialog.onInit = [](ProbeDialog& self) {
    g_dialogProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(self.m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ShowRecorder)));
    self.EndDialog(42);
  };
  const Outcome outcome = DoModalWithWatchdog(dialog);
  EXPECT_TRUE(outcome.returnedByItself);
  EXPECT_EQ(outcome.result, 42);
  EXPECT_FALSE(g_everShown) << "the window was shown although the dialog had already ended";
  EXPECT_EQ(dialog.m_hWnd, nullptr);
}

TEST(ModalLoop, OnlyClicksMenuItemsAndAcceleratorsAreCommands) {
  ProbeDialog dialog;
  RunDialogWhile(dialog, [&](HWND window) {
    HWND list = ::GetDlgItem(window, IDC_FORMAT_LIST);
    // Notifications a list sends about itself.
    for (WORD code : {WORD{CBN_SELCHANGE}, WORD{CBN_DBLCLK}, WORD{CBN_SETFOCUS}, WORD{CBN_DROPDOWN}, WORD{CBN_SELENDOK},
                      static_cast<WORD>(CBN_ERRSPACE)}) {
      ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_FORMAT_LIST, code), reinterpret_cast<LPARAM>(list));
    }
    EXPECT_EQ(dialog.listCommands, 0) << "a notification reached a command handler";
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_FORMAT_LIST, BN_CLICKED), reinterpret_cast<LPARAM>(list));
    EXPECT_EQ(dialog.listCommands, 1) << "a click";
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_FORMAT_LIST, 0), 0);
    EXPECT_EQ(dialog.listCommands, 2) << "a menu item";
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_FORMAT_LIST, 1), 0);
    EXPECT_EQ(dialog.listCommands, 3) << "an accelerator";
  });
}

TEST(ModalLoop, MessagesAnsweredByTheDialogProcedureGetTheHandlersResult) {
  ProbeDialog dialog;
  RunDialogWhile(dialog, [&](HWND window) {
    const auto brush = reinterpret_cast<LRESULT>(dialog.brush);
    HDC dc = ::GetDC(window);
    EXPECT_EQ(::SendMessageW(window, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window)),
              brush);
    EXPECT_EQ(::SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), 0), brush);
    EXPECT_EQ(::SendMessageW(window, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc), 0), brush);
    ::ReleaseDC(window, dc);
    EXPECT_EQ(::SendMessageW(window, WM_VKEYTOITEM, MAKEWPARAM(VK_DOWN, 0), 0), -2);
    EXPECT_EQ(::SendMessageW(window, WM_CHARTOITEM, MAKEWPARAM('a', 0), 0), -2);
    COMPAREITEMSTRUCT compare{};
    compare.CtlType = ODT_COMBOBOX;
    EXPECT_EQ(::SendMessageW(window, WM_COMPAREITEM, 0, reinterpret_cast<LPARAM>(&compare)), -1);
    // Any other message answers through DWLP_MSGRESULT.
    EXPECT_EQ(::SendMessageW(window, WM_APP, 0, 0), 0x1234);
  });
}

TEST(ModalLoop, CentresOverItsOwnerToThePixel) {
  // Two owner widths, one more than the other, so that one of them leaves an
  // odd pixel over, which must stay on the right.
  for (int width : {600, 601}) {
    HWND ownerWindow = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 100, 80, width, 401, nullptr,
                                         nullptr, nullptr, nullptr);
    ASSERT_NE(ownerWindow, nullptr);
    CWnd owner;
    owner.m_hWnd = ownerWindow;
    CDialog about(IDD_ABOUT_DIALOG, &owner);
    const DWORD uiThread = ::GetCurrentThreadId();
    std::thread inspector([&] {
      HWND window = WaitForThreadDialog(uiThread, ownerWindow);
      if (window == nullptr) {
        ADD_FAILURE() << "the dialog did not appear";
        return;
      }
      RECT box{};
      ::GetWindowRect(window, &box);
      EXPECT_EQ(box.left, 100 + (width - (box.right - box.left)) / 2) << width;
      EXPECT_EQ(box.top, 80 + (401 - (box.bottom - box.top)) / 2) << width;
      ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    });
    about.DoModal();
    inspector.join();
    owner.m_hWnd = nullptr;
    ::DestroyWindow(ownerWindow);
  }
}

// A shortcut set to "Run: Maximized" maximizes the first window a program shows.
// A fixed-size dialog, with no maximize box to undo it, comes back to its size.
TEST(ModalLoop, AMaximizedDialogWithoutAMaximizeBoxRunsAtItsCentredSize) {
  RECT normal{};
  ProbeDialog plain;
  RunDialogWhile(plain, [&](HWND window) { ::GetWindowRect(window, &normal); });
  ProbeDialog maximized;
  maximized.onInit = [](ProbeDialog& self) { ::ShowWindow(self.m_hWnd, SW_MAXIMIZE); };
  RunDialogWhile(maximized, [&](HWND window) {
    ::SendMessageW(window, WM_NULL, 0, 0);  // once its loop runs: it shows maximized before
    RECT seen{};
    ::GetWindowRect(window, &seen);
    EXPECT_FALSE(::IsZoomed(window));
    EXPECT_TRUE(::EqualRect(&seen, &normal)) << seen.left << "," << seen.top << " " << seen.right - seen.left << "x"
                                             << seen.bottom - seen.top << ", not " << normal.left << "," << normal.top;
  });
}

}  // namespace
