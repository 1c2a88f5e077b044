// Waiting for what another thread or process does, for every test that drives
// windows (in its own process or in Karvo's): the one loop they all wait in,
// and the one way they find a window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// Checks `done` every `every` ms until it holds or `milliseconds` have passed;
// whether it held.
template <typename Condition>
bool WaitUntil(Condition done, DWORD milliseconds = 5000, DWORD every = 2) {
  const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
  for (;;) {
    if (done()) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(every);
  }
}

// Whose windows a test looks among: a process's or one thread's.
struct WindowsOf {
  DWORD processId = 0;
  DWORD threadId = 0;
};

// The visible top-level windows of that process or thread.
inline std::vector<HWND> VisibleWindows(WindowsOf whose) {
  struct Search {
    WindowsOf whose;
    std::vector<HWND> found;
    static BOOL CALLBACK Visit(HWND window, LPARAM param) {
      auto* s = reinterpret_cast<Search*>(param);
      DWORD processId = 0;
      ::GetWindowThreadProcessId(window, &processId);
      if ((s->whose.threadId != 0 || processId == s->whose.processId) && ::IsWindowVisible(window)) {
        s->found.push_back(window);
      }
      return TRUE;
    }
  } search{whose, {}};
  if (whose.threadId != 0) {
    ::EnumThreadWindows(whose.threadId, &Search::Visit, reinterpret_cast<LPARAM>(&search));
  } else {
    ::EnumWindows(&Search::Visit, reinterpret_cast<LPARAM>(&search));
  }
  return search.found;
}

// The window a test waits for: owned by `owner` (null: a top-level window);
// with a caption, a dialog with that caption; with a control, one that holds it.
struct Wanted {
  HWND owner = nullptr;
  const wchar_t* caption = nullptr;
  int control = 0;
};

inline bool Matches(HWND window, const Wanted& wanted) {
  if (::GetWindow(window, GW_OWNER) != wanted.owner) return false;
  if (wanted.control != 0 && ::GetDlgItem(window, wanted.control) == nullptr) return false;
  if (wanted.caption == nullptr) return true;
  wchar_t className[16] = {};
  wchar_t caption[256] = {};
  ::GetClassNameW(window, className, 16);
  ::GetWindowTextW(window, caption, 256);
  return std::wstring(className) == L"#32770" && wanted.caption == std::wstring(caption);
}

// Waits for such a window; once found, its thread has handled everything sent
// before. Null after the time.
inline HWND WaitForWindow(WindowsOf whose, const Wanted& wanted, DWORD milliseconds = 5000) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND window : VisibleWindows(whose)) {
          if (Matches(window, wanted)) found = window;
        }
        return found != nullptr;
      },
      milliseconds);
  DWORD_PTR ignored = 0;
  if (found) ::SendMessageTimeoutW(found, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &ignored);
  return found;
}

// Presses a box's OK and waits until the box has gone.
inline bool Dismiss(HWND box) {
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  return WaitUntil([&] { return !::IsWindow(box); });
}

}  // namespace testing_support
