// CWnd and the small wrappers around window-system objects that the dialogs use.
// Each holds a handle it does not own, except CPaintDC, which brackets a paint.
#pragma once

#include <windows.h>

#include "cstring.h"
#include "message_map.h"

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
  }
  int MessageBox(const wchar_t* text, const wchar_t* caption = nullptr, UINT type = MB_OK) const {
    return ::MessageBoxW(m_hWnd, text, caption, type);
  }
  // Copies the window's text, cut to count - 1 characters and terminated.
  int GetWindowText(wchar_t* buffer, int count) const { return ::GetWindowTextW(m_hWnd, buffer, count); }
  BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
  void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
  BOOL DestroyWindow();

  // Asks for the window system's default processing of the message being
  // handled. A dialog handler cannot call it in place (the dialog manager
  // calls the dialog back), so, as in WTL, it runs once the handler returns.
  LRESULT Default();

  HWND m_hWnd = nullptr;

 protected:
  // Finds and runs this window's handler for a message; false when the
  // window's map has none or its handler asked for default processing.
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

 private:
  bool m_defaultRequested = false;
};

// A menu handle, not owned: the system menu belongs to its window.
class CMenu {
 public:
  static CMenu FromHandle(HMENU menu) { return CMenu(menu); }
  explicit operator bool() const { return m_hMenu != nullptr; }
  BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const wchar_t* text = nullptr) {
    return ::AppendMenuW(m_hMenu, flags, id, text);
  }

  HMENU m_hMenu = nullptr;

 private:
  explicit CMenu(HMENU menu) : m_hMenu(menu) {}
};

// BeginPaint on construction, EndPaint on destruction.
class CPaintDC {
 public:
  explicit CPaintDC(CWnd* window) : m_hWnd(window->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }
  ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  HDC GetSafeHdc() const { return m_hDC; }

  HDC m_hDC = nullptr;
  PAINTSTRUCT m_ps{};

 private:
  HWND m_hWnd;
};

class CComboBox : public CWnd {
 public:
  int AddString(const wchar_t* text) {
    return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
  }
  int SetCurSel(int index) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index))); }
  int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
};
