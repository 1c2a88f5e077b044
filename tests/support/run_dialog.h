// Runs a dialog class modally in the test's own process, while another thread
// looks at it, with a watchdog that ends a loop that would never end.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/afxwin.h"
#include "support/poll.h"

namespace testing_support {

// A visible window of the thread with this owner (none: a top-level dialog).
inline HWND WaitForThreadDialog(DWORD threadId, HWND owner = nullptr) {
  return WaitForWindow({.threadId = threadId}, {.owner = owner});
}

// Posts a message to a dialog that another thread runs and waits for the box
// that it opens, owned by the dialog.
inline HWND OpenOwnedBox(HWND dialog, UINT message, WPARAM command) {
  ::PostMessageW(dialog, message, command, 0);
  return WaitForThreadDialog(::GetWindowThreadProcessId(dialog, nullptr), dialog);
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
