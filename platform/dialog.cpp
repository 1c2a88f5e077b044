#include "dialog.h"

#include <commctrl.h>

#include <cwchar>

#include "application.h"
#include "resource_module.h"

HWND CDataExchange::PrepareCtrl(int id) const { return ::GetDlgItem(m_pDlgWnd->m_hWnd, id); }

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (control.m_hWnd == nullptr) control.m_hWnd = pDX->PrepareCtrl(id);
}

void DDX_CBString(CDataExchange* pDX, int id, CString& value) {
  HWND combo = pDX->PrepareCtrl(id);
  if (pDX->m_bSaveAndValidate) {
    ::GetWindowTextW(combo, value.GetBuffer(), CString::kCapacity);
    value.ReleaseBuffer();
  } else if (!value.IsEmpty()) {
    const LRESULT found = ::SendMessageW(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(value)));
    if (found == CB_ERR) ::SetWindowTextW(combo, value);  // ignored by a drop-down list
  }
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, CDialog::OnOK)
ON_COMMAND(IDCANCEL, CDialog::OnCancel)
ON_WM_HELPINFO()
END_MESSAGE_MAP()

namespace {
// The dialog whose window this thread is making: the only object that a
// WM_INITDIALOG may attach to. Anyone can send WM_INITDIALOG, with any lParam.
thread_local CDialog* t_dialogBeingCreated = nullptr;
}  // namespace

// Ends with the code given to EndDialog, even one given during OnInitDialog
// (the window is then never shown), or with -1 when the window could not be
// made or was destroyed by anything but EndDialog.
// A modeless window and a loop of our own, as MFC's CDialog::DoModal runs
// one, rather than DialogBoxParamW: the dialog object owns its window from
// the first message (before WM_INITDIALOG), EndDialog may be called before
// the loop starts (from OnInitDialog) and is honoured at once, a WM_QUIT ends
// the dialog with -1 and is passed on to the outer loop, a template without
// WS_VISIBLE is shown and never left maximized, the owner is enabled and
// activated again before the window goes, and every end of a main window
// forgets it, whoever destroyed the window.
INT_PTR CDialog::DoModal() {
  const wchar_t* templateName = MAKEINTRESOURCEW(m_nIDTemplate);
  HINSTANCE module = AfxFindResourceHandle(templateName, RT_DIALOG);
  HWND owner = FindOwner();
  const bool disableOwner = owner != nullptr && ::IsWindowEnabled(owner);
  if (disableOwner) ::EnableWindow(owner, FALSE);

  m_bContinueModal = true;
  m_nModalResult = -1;
  m_hWnd = nullptr;
  CDialog* const outerCreation = t_dialogBeingCreated;
  t_dialogBeingCreated = this;
  ::CreateDialogParamW(module, templateName, owner, &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  t_dialogBeingCreated = outerCreation;

  // Still there unless creation failed or the dialog ended during OnInitDialog.
  if (m_hWnd != nullptr) {
    // A template without WS_VISIBLE is shown once it is ready, as a modal box is.
    if (!::IsWindowVisible(m_hWnd)) ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
    UndoMaximize();
    RunModalLoop();
  }

  HWND hwnd = m_hWnd;  // null once the window is gone, whoever destroyed it
  // Hide first and give activation back before the window goes, so that the
  // owner, not some other program, becomes the active window.
  if (hwnd != nullptr) {
    ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
  }
  if (disableOwner) ::EnableWindow(owner, TRUE);
  if (hwnd != nullptr) {
    if (owner != nullptr && ::GetActiveWindow() == hwnd) ::SetActiveWindow(owner);
    ::DestroyWindow(hwnd);
  }
  // Every end of a main window comes through here, whoever destroyed it and
  // also when it could not be made: the one place that forgets it.
  if (CWinApp* app = AfxGetApp(); app != nullptr && app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
  return m_nModalResult;
}

void CDialog::EndDialog(int result) {
  m_nModalResult = result;
  m_bContinueModal = false;
  if (m_hWnd != nullptr) ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wake the loop if it waits
}

void CDialog::RunModalLoop() {
  MSG msg;
  while (m_bContinueModal) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      // WM_QUIT belongs to whoever runs the outermost loop: pass it on.
      if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));
      m_nModalResult = -1;
      return;
    }
    if (!::IsDialogMessageW(m_hWnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

HWND CDialog::FindOwner() const {
  const CWnd* candidate = m_pParentWnd;
  if (candidate == nullptr) {
    const CWnd* mainWnd = AfxGetMainWnd();
    if (mainWnd != this) candidate = mainWnd;
  }
  HWND owner = candidate != nullptr ? candidate->m_hWnd : nullptr;
  return owner != nullptr ? ::GetAncestor(owner, GA_ROOT) : nullptr;
}

void CDialog::CenterWindow() {
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  if (owner != nullptr && (!::IsWindowVisible(owner) || ::IsIconic(owner))) owner = nullptr;

  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(owner ? owner : m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT work = monitor.rcWork;
  RECT area = work;
  if (owner != nullptr) ::GetWindowRect(owner, &area);

  RECT self;
  ::GetWindowRect(m_hWnd, &self);
  const LONG width = self.right - self.left;
  const LONG height = self.bottom - self.top;
  LONG x = area.left + (area.right - area.left - width) / 2;
  LONG y = area.top + (area.bottom - area.top - height) / 2;
  // Keep the whole dialog inside the work area, its top left corner first.
  if (x + width > work.right) x = work.right - width;
  if (y + height > work.bottom) y = work.bottom - height;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialog::UndoMaximize() {
  if (::IsZoomed(m_hWnd) && (::GetWindowLongW(m_hWnd, GWL_STYLE) & WS_MAXIMIZEBOX) == 0) {
    ::ShowWindow(m_hWnd, SW_RESTORE);
  }
}

void CDialog::GiveDropDownListsRoom() {
  constexpr LRESULT kMostEntries = 30;  // what common controls 6 show by default
  for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t className[16] = {};
    ::GetClassNameW(child, className, 16);
    const LONG type = ::GetWindowLongW(child, GWL_STYLE) & 0x3;
    if (std::wcscmp(className, L"ComboBox") != 0 || (type != CBS_DROPDOWN && type != CBS_DROPDOWNLIST)) continue;
    // Common controls 6 size their own opened list (and answer this message);
    // USER32's lists open exactly as tall as the template made them.
    if (::SendMessageW(child, CB_GETMINVISIBLE, 0, 0) > 0) continue;

    const LRESULT itemHeight = ::SendMessageW(child, CB_GETITEMHEIGHT, 0, 0);
    const LRESULT count = ::SendMessageW(child, CB_GETCOUNT, 0, 0);
    if (itemHeight <= 0 || count <= 0) continue;
    const LRESULT wanted = count < kMostEntries ? count : kMostEntries;
    RECT closed{};
    RECT opened{};
    ::GetWindowRect(child, &closed);
    ::SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&opened));
    const LONG closedHeight = closed.bottom - closed.top;
    const LONG listHeight = (opened.bottom - opened.top) - closedHeight;
    if (listHeight >= wanted * itemHeight) continue;
    // The list's own border takes a pixel above and below its entries.
    const LONG height = closedHeight + static_cast<LONG>(wanted * itemHeight) + 2;
    ::SetWindowPos(child, nullptr, 0, 0, closed.right - closed.left, height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange exchange(this, saveAndValidate);
  DoDataExchange(&exchange);
  return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  UpdateData(TRUE);
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnHelpInfo(HELPINFO*) {
  CWnd* mainWnd = AfxGetMainWnd();
  if (mainWnd == nullptr || mainWnd->m_hWnd == nullptr) return FALSE;
  // Posted, and once: F1 in a message box reaches its owner twice, from the
  // box and again from DefWindowProc, which would show the help box twice.
  MSG queued;
  if (::PeekMessageW(&queued, mainWnd->m_hWnd, WM_COMMAND, WM_COMMAND, PM_NOREMOVE) && queued.wParam == ID_HELP) {
    return TRUE;
  }
  ::PostMessageW(mainWnd->m_hWnd, WM_COMMAND, ID_HELP, 0);
  return TRUE;
}

BOOL CDialog::OnCmdMsg(UINT id) {
  if (CWnd::OnCmdMsg(id)) return TRUE;
  // Commands the dialog does not handle go on to the application object.
  CWinApp* app = AfxGetApp();
  return app != nullptr && id < 0xF000 && app->OnCmdMsg(id);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const LONG_PTR stored = ::GetWindowLongPtrW(hwnd, DWLP_USER);
  auto* dialog = reinterpret_cast<CDialog*>(stored);  // NOLINT(performance-no-int-to-ptr): put there by this class
  if (message == WM_INITDIALOG) {
    // Only the first WM_INITDIALOG of the window this thread is making counts;
    // any other (sent by another program, say) is answered and ignored.
    CDialog* creating = t_dialogBeingCreated;
    if (dialog != nullptr || creating == nullptr || creating->m_hWnd != nullptr ||
        lParam != reinterpret_cast<LPARAM>(creating)) {
      return FALSE;
    }
    t_dialogBeingCreated = nullptr;
    dialog = creating;
    dialog->m_hWnd = hwnd;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
  }
  // Messages that come before WM_INITDIALOG (WM_SETFONT) get the defaults.
  return dialog != nullptr ? dialog->OnDialogMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CDialog::OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const BOOL setDefaultFocus = OnInitDialog();
      if (!m_bContinueModal) {
        // Ended during its initialisation: it goes before it is ever shown.
        ::DestroyWindow(m_hWnd);
        return FALSE;
      }
      GiveDropDownListsRoom();
      UndoMaximize();
      CenterWindow();
      return setDefaultFocus;
    }
    case WM_COMMAND: {
      // Buttons clicked (from a control, code 0), menu items (code 0) and
      // accelerators (code 1, no control); a control's other notifications,
      // such as a list's selection change (also code 1), are not commands.
      const WORD code = HIWORD(wParam);
      const bool fromControl = lParam != 0;
      if (fromControl ? code != BN_CLICKED : code > 1) return FALSE;
      return OnCmdMsg(LOWORD(wParam));
    }
    case WM_ENDSESSION:
      // The session ends, or an installer's Restart Manager needs the program
      // gone (ENDSESSION_CLOSEAPP): every modal loop ends, as on WM_QUIT.
      if (wParam) ::PostQuitMessage(0);
      break;
    case WM_NCDESTROY:
      // Destroyed without EndDialog: the modal loop ends with no choice made.
      if (m_bContinueModal) {
        m_bContinueModal = false;
        m_nModalResult = -1;
      }
      ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
      m_hWnd = nullptr;
      return FALSE;
    default:
      break;
  }
  LRESULT result = 0;
  if (!HandleMessage(message, wParam, lParam, result)) return FALSE;
  // Of the messages a map can name, WM_QUERYDRAGICON alone is answered by the
  // dialog procedure's own return value (as WM_INITDIALOG, WM_CTLCOLOR* and a
  // few more are; see DialogProc), the others through DWLP_MSGRESULT.
  if (message == WM_QUERYDRAGICON) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
  return TRUE;
}
