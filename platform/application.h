// CWinApp and the entry the runtime start-up calls. Every window of a program
// on this framework is a modal dialog, so there is no application message loop:
// the application object's work is all done in InitInstance.
#pragma once

#include <windows.h>

#include "window.h"

inline constexpr UINT ID_HELP = 0xE146;

class CWinApp : public CCmdTarget {
 public:
  // A null name makes the framework take the executable's file name.
  explicit CWinApp(const wchar_t* appName = nullptr);
  ~CWinApp() override;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance() { return FALSE; }
  // The process's exit status.
  virtual int ExitInstance() { return 0; }

  // Kept for programs written against the 1990s framework, where it switched
  // on a grey three-dimensional control look; Windows draws that itself today.
  BOOL Enable3dControls() { return TRUE; }

  // Handles ID_HELP. No help file ships, so it says that no help is available.
  void OnHelp();

  DECLARE_MESSAGE_MAP()

  CWnd* m_pMainWnd = nullptr;
  HINSTANCE m_hInstance = nullptr;
  const wchar_t* m_pszAppName = nullptr;

 private:
  friend int AfxWinMain(HINSTANCE, HINSTANCE, LPWSTR, int);
  wchar_t m_appNameBuffer[MAX_PATH] = {};
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// Kept for the same reason as Enable3dControls: dialogs here host no ActiveX
// controls, and Windows needs no set-up for the ones they could.
inline void AfxEnableControlContainer(void* manager = nullptr) { (void)manager; }

// Registers the window classes of the common controls, as the framework's
// start-up does before InitInstance; dialogs cannot be made before it.
void RegisterCommonControls();

// Registers the common controls, then calls InitInstance of the one
// application object; when it returns FALSE, destroys a main window that is
// still set and ends with ExitInstance's result.
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);
