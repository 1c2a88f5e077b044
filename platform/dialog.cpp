#include "dialog.h"

#include "application.h"

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

INT_PTR CDialog::DoModal() {
  const wchar_t* templateName = MAKEINTRESOURCEW(m_nIDTemplate);
  HINSTANCE module = AfxFindResourceHandle(templateName, RT_DIALOG);
  HWND owner = FindOwner();
  const bool disableOwner = owner != nullptr && ::IsWindowEnabled(owner);
  if (disableOwner) ::EnableWindow(owner, FALSE);

  m_bContinueModal = true;
  m_nModalResult = -1;
  HWND hwnd = ::CreateDialogParamW(module, templateName, owner, &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  if (hwnd == nullptr) {
    if (disableOwner) ::EnableWindow(owner, TRUE);
    m_hWnd = nullptr;
    return -1;
  }

  // A template without WS_VISIBLE is shown once it is ready, as a modal box is.
  if (!::IsWindowVisible(hwnd)) ::ShowWindow(hwnd, SW_SHOWNORMAL);
  RunModalLoop();

  // Hide first and give activation back before the window goes, so that the
  // owner, not some other program, becomes the active window.
  ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
  if (disableOwner) ::EnableWindow(owner, TRUE);
  if (owner != nullptr && ::GetActiveWindow() == hwnd) ::SetActiveWindow(owner);
  ::DestroyWindow(hwnd);
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
  mainWnd->SendMessage(WM_COMMAND, ID_HELP);
  return TRUE;
}

BOOL CDialog::OnCmdMsg(UINT id) {
  if (CWnd::OnCmdMsg(id)) return TRUE;
  // Commands the dialog does not handle go on to the application object.
  CWinApp* app = AfxGetApp();
  return app != nullptr && id < 0xF000 && app->OnCmdMsg(id);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->m_hWnd = hwnd;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
  } else {
    dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  // Messages that come before WM_INITDIALOG (WM_SETFONT) get the defaults.
  return dialog != nullptr ? dialog->OnDialogMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CDialog::OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const BOOL setDefaultFocus = OnInitDialog();
      CenterWindow();
      return setDefaultFocus;
    }
    case WM_COMMAND:
      // Buttons, menu items and accelerators; notifications from lists are not commands.
      if (HIWORD(wParam) > 1) return FALSE;
      return OnCmdMsg(LOWORD(wParam));
    case WM_NCDESTROY:
      if (CWinApp* app = AfxGetApp(); app != nullptr && app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
      m_hWnd = nullptr;
      return FALSE;
    default:
      break;
  }
  LRESULT result = 0;
  if (!HandleMessage(message, wParam, lParam, result)) return FALSE;
  // The few messages whose answer is the dialog procedure's own result.
  if (message == WM_QUERYDRAGICON) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
  return TRUE;
}
