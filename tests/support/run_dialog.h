// Runs a dialog class modally in the test's own process, while another thread
// looks at it, with a watchdog that ends a loop that would never end.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/afxwin.h"

namespace testing_support {

// A visible window of the thread with this owner (none: a top-level dialog).
inline HWND WaitForThreadDialog(DWORD threadId, HWND owner = nullptr) {
  struct Search {
    HWND owner;
    HWND found;
    static BOOL CALLBACK Visit(HWND window, LPARAM param) {
      auto* s = reinterpret_cast<Search*>(param);
      if (::IsWindowVisible(window) && ::GetWindow(window, GW_OWNER) == s->owner) s->found = window;
      return s->found == nullptr;
    }
  };
  for (int i = 0; i < 500; ++i) {
    Search search{owner, nullptr};
    ::EnumThreadWindows(threadId, &Search::Visit, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    ::Sleep(10);
  }
  return nullptr;
}

// Runs DoModal; if it has not returned after a few seconds, a WM_QUIT gets
// the thread out of the loop and the test fails instead of hanging.
struct Outcome {
  INT_PTR result;
  bool returnedByItself;
};
inline Outcome DoModalWithWatchdog(CDialog& dialog, DWORD milliseconds = 5000) {
  const DWORD uiThread = ::GetCurrentThreadId();
  HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> fired{false};
  std::thread watchdog([&] {
    if (::WaitForSingleObject(done, milliseconds) == WAIT_TIMEOUT) {
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

// Runs the dialog modally on this thread while `body` inspects it from another;
// the dialog (top-level, or owned by `owner`) is cancelled once the body is
// done. Returns DoModal's result.
template <typename Body>
INT_PTR RunDialogWhile(CDialog& dialog, Body body, HWND owner = nullptr) {
  const DWORD uiThread = ::GetCurrentThreadId();
  std::thread inspector([&] {
    HWND window = WaitForThreadDialog(uiThread, owner);
    if (window == nullptr) {
      ADD_FAILURE() << "the dialog did not appear";
      return;
    }
    body(window);
    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  });
  const Outcome outcome = DoModalWithWatchdog(dialog, 60000);
  inspector.join();
  EXPECT_TRUE(outcome.returnedByItself) << "the dialog was still running when the watchdog ended it";
  return outcome.result;
}

}  // namespace testing_support
