// The modal loop's edges, in the test's own process: a dialog whose window is
// destroyed behind its back, one that ends before it is shown, and notifications
// that must not pass for commands.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "platform/afxwin.h"
#include "res/resource.h"
#include "support/import_hook.h"
#include "support/run_dialog.h"

namespace {

using testing_support::DoModalWithWatchdog;
using testing_support::Outcome;
using testing_support::RunDialogWhile;
using testing_support::WaitForThreadDialog;

// A dialog on the main template whose behaviour each test fills in.
class ProbeDialog : public CDialog {
 public:
  ProbeDialog() : CDialog(IDD_MAIN_DIALOG) {}

  std::function<void(ProbeDialog&)> onInit;
  std::atomic<int> listCommands{0};

  DECLARE_MESSAGE_MAP()

 protected:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (onInit) onInit(*this);
    return TRUE;
  }
  void OnFormatList() { ++listCommands; }
  void OnDestroyCommand() { ::DestroyWindow(m_hWnd); }
};

constexpr UINT kDestroyCommand = 3000;

BEGIN_MESSAGE_MAP(ProbeDialog, CDialog)
ON_COMMAND(IDC_FORMAT_LIST, ProbeDialog::OnFormatList)
ON_COMMAND(kDestroyCommand, ProbeDialog::OnDestroyCommand)
END_MESSAGE_MAP()

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

// A visible owner window at `place`, for a dialog to centre over.
struct OwnerWindow {
  explicit OwnerWindow(RECT place)
      : window(::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, place.left, place.top,
                                 place.right - place.left, place.bottom - place.top, nullptr, nullptr, nullptr,
                                 nullptr)) {
    owner.m_hWnd = window;
  }
  ~OwnerWindow() {
    owner.m_hWnd = nullptr;
    ::DestroyWindow(window);
  }
  HWND window;
  CWnd owner;
};

RECT PlaceOfAboutOver(OwnerWindow& owner) {
  RECT box{};
  CDialog about(IDD_ABOUT_DIALOG, &owner.owner);
  RunDialogWhile(
      about, [&](HWND window) { ::GetWindowRect(window, &box); }, owner.window);
  return box;
}

TEST(ModalLoop, CentresOverItsOwnerToThePixel) {
  // Two owner widths, one more than the other, so that one of them leaves an
  // odd pixel over, which must stay on the right.
  for (int width : {600, 601}) {
    OwnerWindow owner({100, 80, 100 + width, 80 + 401});
    ASSERT_NE(owner.window, nullptr);
    const RECT box = PlaceOfAboutOver(owner);
    EXPECT_EQ(box.left, 100 + (width - (box.right - box.left)) / 2) << width;
    EXPECT_EQ(box.top, 80 + (401 - (box.bottom - box.top)) / 2) << width;
  }
}

// The work area as the tests set it: a taskbar at the left or the top, a
// second monitor at negative coordinates.
RECT g_workArea{};
BOOL WINAPI WorkAreaAsSet(HMONITOR, LPMONITORINFO info) {
  info->rcMonitor = g_workArea;
  info->rcWork = g_workArea;
  info->dwFlags = 0;
  return TRUE;
}

TEST(ModalLoop, StaysInsideTheWorkAreaWhereverItStartsAndWhereverTheOwnerIs) {
  testing_support::ImportHook hook("user32.dll", "GetMonitorInfoW", reinterpret_cast<void*>(&WorkAreaAsSet));
  ASSERT_TRUE(hook.installed());
  constexpr LONG kOwnerWidth = 200;
  constexpr LONG kOwnerHeight = 100;
  for (const RECT work :
       {RECT{0, 0, 1024, 728}, RECT{120, 0, 1024, 768}, RECT{0, 60, 1024, 768}, RECT{-1280, -200, 0, 824}}) {
    g_workArea = work;
    const LONG middleX = (work.left + work.right - kOwnerWidth) / 2;
    const LONG middleY = (work.top + work.bottom - kOwnerHeight) / 2;
    // Centred, then hanging over each edge.
    for (const POINT at : {POINT{middleX, middleY}, POINT{work.left - 150, middleY}, POINT{work.right - 50, middleY},
                           POINT{middleX, work.top - 80}, POINT{middleX, work.bottom - 20}}) {
      OwnerWindow owner({at.x, at.y, at.x + kOwnerWidth, at.y + kOwnerHeight});
      ASSERT_NE(owner.window, nullptr);
      const RECT box = PlaceOfAboutOver(owner);
      const std::string where = std::to_string(work.left) + "," + std::to_string(work.top) + " owner at " +
                                std::to_string(at.x) + "," + std::to_string(at.y) + ": " + std::to_string(box.left) +
                                "," + std::to_string(box.top);
      EXPECT_GE(box.left, work.left) << where;
      EXPECT_GE(box.top, work.top) << where;
      EXPECT_LE(box.right, work.right) << where;
      EXPECT_LE(box.bottom, work.bottom) << where;
      if (at.x == middleX && at.y == middleY) {
        EXPECT_LE(std::abs(box.left + box.right - (2 * at.x + kOwnerWidth)), 1) << where << ": not centred";
      }
    }
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
