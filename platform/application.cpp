#include "application.h"

#include <commctrl.h>

#include <cwchar>

#include "afxres.h"
#include "cstring.h"
#include "resource_module.h"

namespace {
CWinApp* g_app = nullptr;  // the one application object, set by its constructor
}

CWinApp::CWinApp(const wchar_t* appName) : m_pszAppName(appName) {
  g_app = this;
  RegisterResourceModule(&m_hInstance);
}

CWinApp::~CWinApp() {
  if (g_app != this) return;
  g_app = nullptr;
  RegisterResourceModule(nullptr);
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

void CWinApp::OnHelp() {
  // Owned by the window the user is in, About or an answer over the main
  // dialog, as MFC's GetSafeOwner does: a message box enables its owner again
  // when it closes, and the main dialog must stay disabled under a box.
  HWND owner = m_pMainWnd != nullptr ? m_pMainWnd->m_hWnd : nullptr;
  if (owner != nullptr) owner = ::GetLastActivePopup(::GetAncestor(owner, GA_ROOT));
  CString text;
  if (!text.LoadString(IDS_NO_HELP)) return;  // a copy without its texts has no help to give
  ::MessageBoxW(owner, text, m_pszAppName, MB_OK | MB_ICONINFORMATION);
}

// The manifest hands Button, Static and ComboBox over to common controls 6,
// whose classes exist only once comctl32 has registered them. Windows XP
// does not load it on its own: without this call every dialog fails to open.
void RegisterCommonControls() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  // Version 5 (a copy without its manifest) may refuse the newer flag; the
  // plain call still loads it, and the standard classes are then USER32's.
  if (!::InitCommonControlsEx(&controls)) ::InitCommonControls();
}

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd() { return g_app != nullptr ? g_app->m_pMainWnd : nullptr; }

int AfxWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return -1;
  app->m_hInstance = instance;
  if (app->m_pszAppName == nullptr) {
    // The executable's name without folder and extension.
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(instance, path, MAX_PATH);
    const wchar_t* name = std::wcsrchr(path, L'\\');
    name = name != nullptr ? name + 1 : path;
    std::wcsncpy(app->m_appNameBuffer, name, MAX_PATH - 1);
    if (wchar_t* dot = std::wcsrchr(app->m_appNameBuffer, L'.')) *dot = L'\0';
    app->m_pszAppName = app->m_appNameBuffer;
  }
  RegisterCommonControls();
  // Every modal main window is forgotten at the end of its DoModal; one still
  // set here never ran its loop, and the framework destroys it all the same.
  if (!app->InitInstance() && app->m_pMainWnd != nullptr) app->m_pMainWnd->DestroyWindow();
  return app->ExitInstance();
}
