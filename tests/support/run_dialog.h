// Runs a dialog class modally in the test's own process while another thread
// looks at it, as the in-process tests need.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

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

// Runs the dialog modally on this thread while `body` inspects it from another;
// the dialog is cancelled once the body is done. Returns DoModal's result.
template <typename Body>
INT_PTR RunDialogWhile(CDialog& dialog, Body body) {
  const DWORD uiThread = ::GetCurrentThreadId();
  std::thread inspector([&] {
    HWND window = WaitForThreadDialog(uiThread);
    if (window == nullptr) {
      ADD_FAILURE() << "the dialog did not appear";
      return;
    }
    body(window);
    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  });
  const INT_PTR result = dialog.DoModal();
  inspector.join();
  return result;
}

}  // namespace testing_support
