#include "karvo_app.h"

#include "ui/karvo_dlg.h"

CKarvoApp theApp;

BEGIN_MESSAGE_MAP(CKarvoApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

BOOL CKarvoApp::InitInstance() {
  AfxEnableControlContainer();
  Enable3dControls();

  CKarvoDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  // The dialog's window is gone (or was never made), and the end of DoModal
  // has forgotten it as the main window.
  return FALSE;  // no message loop: the program ends here
}
